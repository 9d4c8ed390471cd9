"""IGS state-space corrections carried in message 4076, told apart by the 8-bit sub-type
after the 3-bit version: per system (GPS 21-27, GLONASS 41-47, Galileo 61-67, QZSS 81-87,
BeiDou 101-107, SBAS 121-127) orbit, clock, combined orbit and clock, high-rate clock, code
bias, phase bias and URA; and 201, a global vertical TEC model in spherical harmonics.

Unlike the core SSR messages, every system shares one layout: a 20-bit epoch time, a 6-bit
satellite id and an 8-bit issue of data, and the datum flag comes after the solution id.
"""
from kvtcg.dsl import *
from _ssr_terms import UPDATE_INTERVALS, clock_terms, orbit_deltas

family("igs_ssr")


SYSTEMS = [("GPS", 20), ("GLONASS", 40), ("Galileo", 60), ("QZSS", 80), ("BeiDou", 100),
           ("SBAS", 120)]


def satellite():
    return [u("Satellite_ID", 6)]


def iod():
    return [bits("GNSS_IOD", 8, display="GNSS IOD")]


subrecord("IGS_SSR_Orbit_Correction", 150, satellite() + iod() + orbit_deltas())
subrecord("IGS_SSR_Clock_Correction", 151, satellite() + clock_terms())
subrecord("IGS_SSR_Combined_Correction", 152, satellite() + iod() + orbit_deltas() + clock_terms())
subrecord("IGS_SSR_High_Rate_Clock", 153, satellite() + [
    i("High_Rate_Clock_Correction", 22, scale=0.1, unit="millimeter"),
])
subrecord("IGS_Code_Bias", 154, [
    u("Signal_and_Tracking_Mode_Indicator", 5),
    i("Code_Bias", 14, scale=0.01, unit="meter"),
])
subrecord("IGS_SSR_Code_Bias", 155, satellite() + [
    u("Nr_of_Biases", 5),
    group("Biases", "IGS_Code_Bias", count="Nr_of_Biases", repeated=True),
])
subrecord("IGS_Phase_Bias", 156, [
    u("Signal_and_Tracking_Mode_Indicator", 5),
    bits("Signal_Integer_Indicator", 1, symbols={0: "non-integer", 1: "integer"}),
    bits("Signals_Wide_Lane_Integer_Indicator", 2, display="Signals Wide-Lane Integer Indicator"),
    u("Signal_Discontinuity_Counter", 4),
    i("Phase_Bias", 20, scale=0.0001, unit="meter"),
])
subrecord("IGS_SSR_Phase_Bias", 157, satellite() + [
    u("Nr_of_Biases", 5),
    u("Yaw_Angle", 9, scale=2**-8, unit="semicircle"),
    i("Yaw_Rate", 8, scale=2**-13, unit="semicirclepersecond"),
    group("Biases", "IGS_Phase_Bias", count="Nr_of_Biases", repeated=True),
])
subrecord("IGS_SSR_URA", 158, satellite() + [
    u("URA", 6, subfields=["URA_CLASS", "URA_VALUE"]),
    derived("URA_CLASS", "u8", bitfield("URA", 3, 0x7), host="u(3)"),
    derived("URA_VALUE", "u8", bitfield("URA", 0, 0x7), host="u(3)"),
])

# One ionospheric layer: its height, and the degree and order of its expansion (each one
# less than it is), which fix how many cosine and sine coefficients follow.
subrecord("IGS_VTEC_Coefficient", 159, [
    i("Coefficient", 16, scale=0.005, unit="TECU"),
])
subrecord("IGS_VTEC_Layer", 160, [
    u("Layer_Height", 8, scale=10, unit="kilometer"),
    u("Degree_Minus_One", 4),
    u("Order_Minus_One", 4),
    derived("Cosine_Terms", "u8", harmonic_terms("Degree_Minus_One", "Order_Minus_One", False),
            host="u(8)"),
    derived("Sine_Terms", "u8", harmonic_terms("Degree_Minus_One", "Order_Minus_One", True),
            after="Order_Minus_One", host="u(8)"),
    group("Cosine_Coefficients", "IGS_VTEC_Coefficient", count="Cosine_Terms", repeated=True),
    group("Sine_Coefficients", "IGS_VTEC_Coefficient", count="Sine_Terms", repeated=True),
])


def header(subtype, datum=False, consistency=False):
    members = [
        u("IGS_SSR_Version", 3, display="IGS SSR Version"),
        u("IGS_Message_Subtype", 8, display="IGS Message Subtype"),
        u("Epoch_Time", 20, rec="u32", unit="second"),
        u("SSR_Update_Interval", 4, symbols=UPDATE_INTERVALS),
        bits("Multiple_Message_Indicator", 1, symbols={0: "Last", 1: "Next"}),
        u("IOD_SSR", 4),
        u("SSR_Provider_ID", 16),
        u("SSR_Solution_ID", 4),
    ]
    if datum:
        members.append(bits("Satellite_Reference_Datum", 1, symbols={0: "ITRF", 1: "Regional"}))
    if consistency:
        members += [bits("Dispersive_Bias_Consistency_Indicator", 1),
                    bits("MW_Consistency_Indicator", 1)]
    return members


#        step    kind                    entry                          datum  consistency
KINDS = [(1, "Orbit_Correction",         "IGS_SSR_Orbit_Correction",    True,  False),
         (2, "Clock_Correction",         "IGS_SSR_Clock_Correction",    False, False),
         (3, "Combined_Correction",      "IGS_SSR_Combined_Correction", True,  False),
         (4, "High_Rate_Clock",          "IGS_SSR_High_Rate_Clock",     False, False),
         (5, "Code_Bias",                "IGS_SSR_Code_Bias",           False, False),
         (6, "Phase_Bias",               "IGS_SSR_Phase_Bias",          False, True),
         (7, "URA",                      "IGS_SSR_URA",                 False, False)]

enum = 161
for system, base in SYSTEMS:
    for step, kind, entry, datum, consistency in KINDS:
        subtype = base + step
        message(4076, enum, header(subtype, datum, consistency) + [
            u("Nr_of_Satellites", 6),
            group("Satellites", entry, count="Nr_of_Satellites", repeated=True),
        ], name=f"IGS_SSR_{system}_{kind}", select=("IGS_Message_Subtype", subtype), codec_only=True,
            text=f"IGS SSR {system} {kind.replace('_', ' ')}")
        enum += 1

message(4076, enum, header(201) + [
    u("VTEC_Quality_Indicator", 9, scale=0.05, unit="TECU"),
    u("Layers_Minus_One", 2),
    derived("Nr_of_Layers", "u8", offset("Layers_Minus_One", 1), host="u(8)"),
    group("Layers", "IGS_VTEC_Layer", count="Nr_of_Layers", repeated=True),
], name="IGS_SSR_VTEC", select=("IGS_Message_Subtype", 201), codec_only=True, text="IGS SSR global ionospheric VTEC")
