"""Members that the core SSR messages and the extension's SSR layouts (IGS SSR in 4076, the
8-bit-IOD BeiDou layouts) share: the update interval, the orbit deltas and the clock terms."""
from kvtcg.dsl import *

UPDATE_INTERVALS = {n: text for n, text in enumerate(
    ["1", "2", "5", "10", "15", "30", "60", "120",
     "240", "300", "600", "900", "1800", "3600", "7200", "10800"])}


def orbit_deltas():
    return [
        i("Delta_Radial", 22, scale=0.1, unit="millimeter"),
        i("Delta_Along_Track", 20, display="Delta Along-Track", scale=0.4, unit="millimeter"),
        i("Delta_Cross_Track", 20, display="Delta Cross-Track", scale=0.4, unit="millimeter"),
        i("Dot_Delta_Radial", 21, scale=0.001, unit="millimeterpersecond"),
        i("Dot_Delta_Along_Track", 19, display="Dot Delta Along-Track",
          scale=0.004, unit="millimeterpersecond"),
        i("Dot_Delta_Cross_Track", 19, display="Dot Delta Cross-Track",
          scale=0.004, unit="millimeterpersecond"),
    ]


def clock_terms():
    return [
        i("Delta_Clock_C0", 22, scale=0.1, unit="millimeter"),
        i("Delta_Clock_C1", 21, scale=0.001, unit="millimeterpersecond"),
        i("Delta_Clock_C2", 27, scale=0.00002, unit="millimeterpersecondsquared"),
    ]
