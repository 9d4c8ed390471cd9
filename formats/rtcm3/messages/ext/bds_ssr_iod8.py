"""The BeiDou orbit (1258) and combined orbit and clock (1261) corrections as some producers
send them: an 8-bit issue of data where the standard layout has its 24-bit IOD/CRC, so that
an orbit entry is 145 bits and a combined one 215. Decoded only when asked for."""
from kvtcg.dsl import *
from _ssr_terms import UPDATE_INTERVALS, clock_terms, orbit_deltas

family("bds_ssr_iod8")


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
