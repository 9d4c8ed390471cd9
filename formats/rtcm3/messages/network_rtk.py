"""Network RTK: auxiliary station data (1014), correction differences per satellite
(1015-1017 GPS, 1037-1039 GLONASS) and residual error statistics per satellite
(1030, 1031, 1303, 1304).

Apart from 1014 every message is a short header and a repeated per-satellite group.
GLONASS corrections and 1031 residuals carry a narrower epoch time.
"""
from kvtcg.dsl import *

family("network_rtk")

GLONASS_CORRECTIONS = msgnum_range(1037, 1039)
GLONASS_RESIDUALS = msgnum_in(1031)

AMBIGUITY_STATUS = {0: "Reserved", 1: "L1 and L2", 2: "L1 min L2 widelane", 3: "Uncertain"}

# Correction-difference entries: the three kinds share their leading members and
# differ in which difference follows (the combined one carries both, around IODE).
def entry_head():
    return [
        u("Satellite_ID", 6),
        bits("Ambiguity_Status_Flag", 2, symbols=AMBIGUITY_STATUS),
        u("Non_Sync_Count", 3),
    ]


def ionospheric():
    return [i("Ionospheric_Correction_Difference", 17)]


def geometric():
    return [
        i("Geometric_Correction_Difference", 17),
        u("IODE", 8),
    ]


subrecord("Ionospheric_Correction_Difference", 13, entry_head() + ionospheric())
subrecord("Geometric_Correction_Difference", 14, entry_head() + geometric())
subrecord("Combined_Correction_Difference", 15, entry_head() + geometric() + ionospheric())

subrecord("Network_RTK_Residual", 34, [
    u("Satellite_ID", 6),
    u("S_oc", 8),
    u("S_od", 9),
    u("S_oh", 6),
    u("S_Ic", 10),
    u("S_Id", 10),
])

message(1014, 22, [
    u("Network_ID", 8),
    u("Subnetwork_ID", 4),
    u("Nr_of_Stations", 5),
    u("Master_ID", 12),
    u("Auxiliary_ID", 12),
    i("Delta_Latitude", 20),
    i("Delta_Longitude", 21),
    i("Delta_Height", 23),
], text="Network Auxiliary Station Data")


def correction_header():
    return [
        u("Network_ID", 8),
        u("Subnetwork_ID", 4),
        u("Epoch_Time", widths(23, (GLONASS_CORRECTIONS, 20))),
        bits("Multiple_Message_Indicator", 1, symbols={0: "Last", 1: "Next"}),
        u("Master_ID", 12),
        u("Auxiliary_ID", 12),
        u("Nr_of_Sats", 4),
    ]


#            GPS   GLONASS  enums     element                               short text
for gps, glo, enums, element, text in [
        (1015, 1037, (53, 62), "Ionospheric_Correction_Difference",
         "{} Ionospheric Correction Differences"),
        (1016, 1038, (54, 63), "Geometric_Correction_Difference",
         "{} Geometric Correction Differences"),
        (1017, 1039, (55, 64), "Combined_Correction_Difference",
         "{} Combined Geometric and Ionospheric Correction Differences")]:
    for number, enum, system in zip((gps, glo), enums, ("GPS", "GLONASS")):
        message(number, enum, correction_header() + [
            group("Corrections", element, count="Nr_of_Sats"),
        ], text=text.format(system))


def residual_header():
    return [
        u("Epoch_Time", widths(20, (GLONASS_RESIDUALS, 17))),
        u("Reference_Station_ID", 12),
        u("N_Refs", 7, display="N-Refs"),
        u("Nr_of_Satellites", 5),
    ]


for number, enum, system in [(1030, 58, "GPS"), (1031, 59, "GLONASS"), (1303, 60, "BeiDou"),
                             (1304, 61, "Galileo")]:
    message(number, enum, residual_header() + [
        group("Residuals", "Network_RTK_Residual", count="Nr_of_Satellites"),
    ], text=f"{system} Network RTK Residual")
