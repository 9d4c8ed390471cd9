"""The BeiDou orbit (1258) and combined orbit and clock (1261) corrections as some producers
send them: an 8-bit issue of data where the standard layout has its 24-bit IOD/CRC, so that
an orbit entry is 145 bits and a combined one 215. Decoded only when asked for."""
from kvtcg.dsl import *

family("bds_ssr_iod8")

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


def issue():
    return [u("Satellite_ID", 6), u("t_oe_modulo", 10, display="t oe modulo"), u("IOD", 8)]


subrecord("SSR_Orbit_Correction_IOD8", 208, issue() + orbit_deltas())
subrecord("SSR_Combined_Correction_IOD8", 209, issue() + orbit_deltas() + clock_terms())


def header():
    return [
        u("Epoch_Time", 20, rec="u32", unit="second"),
        u("SSR_Update_Interval", 4, symbols=UPDATE_INTERVALS),
        bits("Multiple_Message_Indicator", 1, symbols={0: "Last", 1: "Next"}),
        bits("Satellite_Reference_Datum", 1, symbols={0: "ITRF", 1: "Regional"}),
        u("IOD_SSR", 4),
        u("SSR_Provider_ID", 16),
        u("SSR_Solution_ID", 4),
        u("Nr_of_Satellites", 6),
    ]


message(1258, 210, header() + [
    group("Corrections", "SSR_Orbit_Correction_IOD8", count="Nr_of_Satellites", repeated=True),
], name="Message_Type_1258_IOD8", codec_only=True, text="SSR BeiDou Orbit Correction (8-bit IOD)")
message(1261, 211, header() + [
    group("Corrections", "SSR_Combined_Correction_IOD8", count="Nr_of_Satellites", repeated=True),
], name="Message_Type_1261_IOD8", codec_only=True,
    text="SSR BeiDou Combined Orbit and Clock Corrections (8-bit IOD)")
