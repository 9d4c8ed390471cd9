"""State-space representation corrections: 1057-1068, 1240-1245, 1258-1263 and the
phase-bias messages 1265, 1266, 1267 and 1270.

All 28 messages share one header, whose optional members and widths follow the message
number, and end in one group of per-satellite entries of one of seven kinds. The code-
and phase-bias entries hold a second, nested group of per-signal biases.
"""
from kvtcg.dsl import *
from _ssr_terms import UPDATE_INTERVALS, clock_terms, orbit_deltas

family("ssr")

# Width and presence rules, keyed on the number of the owning message (sub-records reach
# it through their parent links).
GLONASS = msgnum_range(1063, 1068) | msgnum_in(1266)
CARRIES_ORBIT = msgnum_in(1057, 1060, 1063, 1066, 1240, 1243, 1258, 1261)
PHASE_BIAS_MESSAGE = msgnum_range(1265, 1270)

ORBIT_IOD = msgnum_in(1057, 1063)
ORBIT_IODNAV = msgnum_in(1240)
ORBIT_BEIDOU = msgnum_in(1258)

COMBINED_IOD = msgnum_in(1060, 1066)
COMBINED_IODNAV = msgnum_in(1243)
COMBINED_BEIDOU = msgnum_in(1261)


def satellite_id():
    return u("Satellite_ID", widths(6, (GLONASS, 5)), rec="u8")


# Per-satellite entries: their parent must be an SSR message.

subrecord("SSR_Orbit_Correction", 6, [
    satellite_id(),
    u("t_oe_modulo", 10, when=ORBIT_BEIDOU, optional=True),
    u("IOD", 8, when=ORBIT_IOD, optional=True),
    u("IODnav", 10, when=ORBIT_IODNAV, optional=True),
    u("IOD_CRC", 24, when=ORBIT_BEIDOU, optional=True),
] + orbit_deltas(), parent="ssr")

subrecord("SSR_Clock_Correction", 7, [
    satellite_id(),
] + clock_terms(), parent="ssr")

# The BeiDou time of ephemeris is t_oe here and t_oe_modulo in the orbit entry.
subrecord("SSR_Combined_Orbit_and_Clock_Corrections", 10, [
    satellite_id(),
    u("t_oe", 10, when=COMBINED_BEIDOU, optional=True),
    u("IOD", 8, when=COMBINED_IOD, optional=True),
    u("IODnav", 10, when=COMBINED_IODNAV, optional=True),
    u("IOD_CRC", 24, when=COMBINED_BEIDOU, optional=True),
] + orbit_deltas() + clock_terms(), parent="ssr")

# URA packs a class (high three bits) and a value (low three bits); only URA is encoded.
subrecord("SSR_URA", 11, [
    satellite_id(),
    u("URA", 6, subfields=["URA_CLASS", "URA_VALUE"]),
    derived("URA_CLASS", "u8", bitfield("URA", 3, 0x7), host="u(3)"),
    derived("URA_VALUE", "u8", bitfield("URA", 0, 0x7), host="u(3)"),
], parent="ssr")

subrecord("SSR_High_Rate_Clock_Correction", 12, [
    satellite_id(),
    i("High_Rate_Clock_Correction", 22, scale=0.1, unit="millimeter"),
], parent="ssr")

# Per-signal biases, nested in the bias entries (their parent is the satellite entry).

subrecord("Code_Bias", 8, [
    u("Signal_and_Tracking_Mode_Indicator", 5),
    i("Bias", 14, scale=0.01, unit="meter"),
])

subrecord("Phase_Bias", 9, [
    u("Signal_and_Tracking_Mode_Indicator", 5),
    bits("Signal_Integer_Indicator", 1, symbols={0: "non-integer", 1: "integer"}),
    bits("Signals_Wide_Lane_Integer_Indicator", 2,
         display="Signals Wide-Lane Integer Indicator"),
    u("Signal_Discontinuity_Counter", 4),
    i("Bias", 20, scale=0.0001, unit="meter"),
])

subrecord("SSR_Code_Bias", 50, [
    satellite_id(),
    u("Nr_of_Code_Biases_Processed", 5),
    group("Code_Bias", "Code_Bias", count="Nr_of_Code_Biases_Processed", repeated=True),
], parent="ssr")

subrecord("SSR_Phase_Bias", 51, [
    satellite_id(),
    u("Nr_of_Phase_Biases_Processed", 5),
    u("Yaw_Angle", 9, scale=2**-8, unit="semicircle"),
    i("Yaw_Rate", 8, scale=2**-13, unit="semicirclepersecond"),
    group("Phase_Bias", "Phase_Bias", count="Nr_of_Phase_Biases_Processed", repeated=True),
], parent="ssr")


def header():
    return [
        u("Epoch_Time", widths(20, (GLONASS, 17)), rec="u32", unit="second"),
        u("SSR_Update_Interval", 4, symbols=UPDATE_INTERVALS),
        bits("Multiple_Message_Indicator", 1, symbols={0: "Last", 1: "Next"}),
        bits("Satellite_Reference_Datum", 1, when=CARRIES_ORBIT, optional=True,
             symbols={0: "ITRF", 1: "Regional"}),
        u("IOD_SSR", 4),
        u("SSR_Provider_ID", 16),
        u("SSR_Solution_ID", 4),
        bits("Dispersive_Bias_Consistency_Indicator", 1, when=PHASE_BIAS_MESSAGE, optional=True),
        bits("MW_Consistency_Indicator", 1, when=PHASE_BIAS_MESSAGE, optional=True),
        u("Nr_of_Satellites", 6),
    ]


# Only the GPS and GLONASS messages up to 1068 are offered to the host; the others are
# decoded and encoded by the codec alone.
# Said with the record metadata codec_only=True.
HOST_FACING = range(1057, 1069)
SHORT_TEXTS = {
    "SSR_Orbit_Correction": "SSR {} Orbit Correction",
    "SSR_Clock_Correction": "SSR {} Clock Correction",
    "SSR_Code_Bias": "SSR {} Satellite Code Bias",
    "SSR_Combined_Orbit_and_Clock_Corrections": "SSR {} Combined Orbit and Clock Corrections",
    "SSR_URA": "SSR {} URA",
    "SSR_High_Rate_Clock_Correction": "SSR {} High Rate Clock Correction",
    "SSR_Phase_Bias": "SSR {} Phase Bias",
}


def system_of(number):
    if number in range(1063, 1069) or number == 1266:
        return "GLONASS"
    if number in range(1240, 1246) or number == 1267:
        return "Galileo"
    if number in range(1258, 1264) or number == 1270:
        return "BeiDou"
    return "GPS"

#   number  enum  group           entry
for number, enum, grp, entry in [
        (1057,  65, "Corrections", "SSR_Orbit_Correction"),
        (1058,  66, "Corrections", "SSR_Clock_Correction"),
        (1059, 142, "Biases",      "SSR_Code_Bias"),
        (1060,  67, "Corrections", "SSR_Combined_Orbit_and_Clock_Corrections"),
        (1061,  68, "URA",         "SSR_URA"),
        (1062,  69, "Corrections", "SSR_High_Rate_Clock_Correction"),
        (1063,  70, "Corrections", "SSR_Orbit_Correction"),
        (1064,  71, "Corrections", "SSR_Clock_Correction"),
        (1065, 143, "Biases",      "SSR_Code_Bias"),
        (1066,  72, "Corrections", "SSR_Combined_Orbit_and_Clock_Corrections"),
        (1067,  73, "URA",         "SSR_URA"),
        (1068,  74, "Corrections", "SSR_High_Rate_Clock_Correction"),
        (1240, 124, "Corrections", "SSR_Orbit_Correction"),
        (1241, 125, "Corrections", "SSR_Clock_Correction"),
        (1242, 144, "Biases",      "SSR_Code_Bias"),
        (1243, 126, "Corrections", "SSR_Combined_Orbit_and_Clock_Corrections"),
        (1244, 127, "URA",         "SSR_URA"),
        (1245, 128, "Corrections", "SSR_High_Rate_Clock_Correction"),
        (1258, 129, "Corrections", "SSR_Orbit_Correction"),
        (1259, 130, "Corrections", "SSR_Clock_Correction"),
        (1260, 145, "Biases",      "SSR_Code_Bias"),
        (1261, 131, "Corrections", "SSR_Combined_Orbit_and_Clock_Corrections"),
        (1262, 132, "URA",         "SSR_URA"),
        (1263, 133, "Corrections", "SSR_High_Rate_Clock_Correction"),
        (1265, 146, "Biases",      "SSR_Phase_Bias"),
        (1266, 147, "Biases",      "SSR_Phase_Bias"),
        (1267, 148, "Biases",      "SSR_Phase_Bias"),
        (1270, 149, "Biases",      "SSR_Phase_Bias")]:
    # The host sees only its own texts; the others name the records of the outputs.
    extra = {"text": SHORT_TEXTS[entry].format(system_of(number))}
    if number not in HOST_FACING:
        extra["codec_only"] = True
    message(number, enum, header() + [
        group(grp, entry, count="Nr_of_Satellites", repeated=True),
    ], **extra)
