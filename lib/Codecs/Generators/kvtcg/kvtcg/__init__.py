"""kvtcg: a generator of bit-field codecs from a declarative message list."""
