"""Legacy RTK observables: 1001-1004 (GPS) and 1009-1012 (GLONASS).

One satellite block per satellite, at four levels (L1 or L1+L2, basic or extended),
assembled from four fixed sub-records. GLONASS blocks are wider.
"""
from kvtcg.dsl import *

family("legacy_rtk")

GLONASS = msgnum_range(1009, 1012)
GLONASS_EXTENDED = msgnum_in(1010, 1012)

INVALID_20 = {-524288: "Invalid"}

subrecord("Refsig_Basic", 1, [
    u("Satellite_Id", 6),
    bits("Code_Indicator", 1, optional=True),
    # The frequency channel, sent plus 7.
    u("Frequency_Number", 5, when=GLONASS, optional=True, si=(1, None), zero=7),
    u("Pseudorange", widths(24, (GLONASS, 25)), rec="u32", host="u(24)",
      symbols={524288: "Invalid"}, dnu=524288, si=(0.02, "m")),
    i("Phaserange_Min_Pseudorange", 20, symbols=INVALID_20, dnu=-524288, si=(0.0005, "m")),
    u("Lock_Time_Indicator", 7),
])

subrecord("Refsig_Extended", 2, [
    # Whole light-milliseconds of the range (GLONASS: pairs of them).
    u("Modulus_Ambiguity", widths(8, (GLONASS_EXTENDED, 7)), rec="u8", host="u(8)",
      si=(scales(LIGHT_MS, (GLONASS_EXTENDED, 2 * LIGHT_MS)), "m")),
    u("CNR", 8, si=(0.25, "dB-Hz"), invalid=0),
])

subrecord("Deltasig_Basic", 3, [
    bits("Code_Indicator", 2),
    i("Pseudorange_Min_Pseudorange", 14, symbols={-8192: "Invalid"}, dnu=-8192, si=(0.02, "m")),
    i("Phaserange_Min_Pseudorange", 20, symbols=INVALID_20, dnu=-524288, si=(0.0005, "m")),
    u("Lock_Time_Indicator", 7),
])

subrecord("Deltasig_Extended", 4, [
    u("CNR", 8, symbols={0: "Invalid"}, dnu=0, si=(0.25, "dB-Hz")),
])

# The satellite blocks carry no fields of their own: each is its sub-records in a row.
# Only the L1 and L2 halves of the fullest block are numbered in its error codes.
subrecord("Basic_1", 46, [
    embed("Refsig_Basic", "Refsig_Basic"),
])
subrecord("Extended_1", 47, [
    embed("Refsig_Basic", "Refsig_Basic"),
    embed("Refsig_Extended", "Refsig_Extended"),
])
subrecord("Basic_2", 48, [
    embed("Refsig_Basic", "Refsig_Basic"),
    embed("Deltasig_Basic", "Deltasig_Basic"),
])
subrecord("Extended_2", 49, [
    embed("Refsig_Basic", "Refsig_Basic", numbered=False),
    embed("Refsig_Extended", "Refsig_Extended", numbered=False),
    embed("Deltasig_Basic", "Deltasig_Basic"),
    embed("Deltasig_Extended", "Deltasig_Extended"),
])


def header():
    return [
        u("Reference_Station_ID", 12),
        u("Epoch_Time", widths(30, (GLONASS, 27)), rec="u32", host="u(30)", si=(0.001, "s")),
        bits("Sync_Flag", 1, symbols={0: "END OF EPOCH", 1: "MORE MESSAGES"}),
        u("Nr_Of_Satellites", 5),
        bits("Smoothing_Indicator", 1),
        bits("Smoothing_Interval", 3),
    ]


#            GPS   GLONASS  enum  group             element       short text
for gps, glo, enum, grp, element, text in [
        (1001, 1009, 134, "L1_Basic",       "Basic_1",    "L1-Only {} RTK Observables"),
        (1002, 1010, 135, "L1_Extended",    "Extended_1", "Extended L1-Only {} RTK Observables"),
        (1003, 1011, 136, "L1_L2_Basic",    "Basic_2",    "L1&L2 {} RTK Observables"),
        (1004, 1012, 137, "L1_L2_Extended", "Extended_2", "Extended L1&L2 {} RTK Observables")]:
    for number, e, system in ((gps, enum, "GPS"), (glo, enum + 4, "GLONASS")):
        message(number, e, header() + [
            group(grp, element, count="Nr_Of_Satellites"),
        ], text=text.format(system), layout="LegacyObservables")
