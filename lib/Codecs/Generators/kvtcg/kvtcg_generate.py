#!/usr/bin/env python3
"""Generates the codec of a message list and its host-facing classes:
kvtcg_generate.py MESSAGES_DIR OUTPUT_DIR [HOST_SHARDS]

The host classes are split over HOST_SHARDS sources (default 8); their registration order
is read from MESSAGES_DIR/registration_order.txt; the extension list, records the core
dispatch does not know, from MESSAGES_DIR/ext."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from kvtcg import codec, extension, family, host, model, reflect  # noqa: E402


def write_if_changed(path: str, text: str) -> None:
    # Unchanged outputs keep their time stamps, so a list edit rebuilds only what it touches.
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def main(argv):
    if len(argv) not in (3, 4):
        print(__doc__, file=sys.stderr)
        return 2
    messages_dir, out_dir = argv[1], argv[2]
    shards = int(argv[3]) if len(argv) == 4 else 8
    records = model.load(messages_dir)
    emitter = codec.Emitter(records, "Kvt::Nuvrix")
    os.makedirs(out_dir, exist_ok=True)
    header = emitter.header()
    source = emitter.source()
    write_if_changed(os.path.join(out_dir, "RTCM3_codec.h"), header)
    write_if_changed(os.path.join(out_dir, "RTCM3_codec.cpp"), source)
    write_if_changed(os.path.join(out_dir, "RTCM3_codec_names.cpp"), emitter.names())
    order = os.path.join(messages_dir, "registration_order.txt")
    outputs = {**host.Emitter(records, order, shards).files(), **reflect.Emitter(records).files(),
               **family.Emitter(records).files()}
    outputs.update(extension.files(records, os.path.join(messages_dir, "ext")))
    for name, text in outputs.items():
        write_if_changed(os.path.join(out_dir, name), text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
