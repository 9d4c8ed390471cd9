#!/usr/bin/env python3
"""Generates the codec of a message list: kvtcg_generate.py MESSAGES_DIR OUTPUT_DIR"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from kvtcg import codec, model  # noqa: E402


def write_if_changed(path: str, text: str) -> None:
    # Unchanged outputs keep their time stamps, so a list edit rebuilds only what it touches.
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    messages_dir, out_dir = argv[1], argv[2]
    records = model.load(messages_dir)
    emitter = codec.Emitter(records, "Kvt::Nuvrix")
    os.makedirs(out_dir, exist_ok=True)
    header = emitter.header()
    source = emitter.source()
    write_if_changed(os.path.join(out_dir, "RTCM3_codec.h"), header)
    write_if_changed(os.path.join(out_dir, "RTCM3_codec.cpp"), source)
    write_if_changed(os.path.join(out_dir, "RTCM3_codec_names.cpp"), emitter.names())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
