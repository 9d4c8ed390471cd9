"""Coordinate reference systems of a correction service: the service's CRS (1300), a
15-parameter time-dependent Helmert transformation between two CRSs (1301) and the CRS in
which the service's corrections are given, with links to where it is described (1302)."""
from kvtcg.dsl import *

family("crs")

message(1300, 204, [
    u("Service_CRS_Name_Counter", 5, role=2),
    string("Service_CRS_Name", "Service_CRS_Name_Counter"),
    # Years after 1900 (2015.0 is sent as 11500).
    u("Coordinate_Epoch", 16, display="Coordinate Epoch after 1900", scale=0.01, unit="year",
      si=(0.01, "yr")),
], codec_only=True, text="Service CRS")

# Rotations and scale stay in the units they are sent in, named in their JSON keys.
ROTATION = {"scale": 0.00002, "unit": "arcsecond", "si": (0.00002, "arcsec")}
ROTATION_RATE = {"scale": 0.0000004, "unit": "arcsecondperyear", "si": (0.0000004, "arcsec/yr")}
TRANSLATION_RATE = {"scale": 0.00002, "unit": "meterperyear", "si": (0.00002, "m/yr")}

message(1301, 205, [
    u("Source_Name_Counter", 5, display="Source-Name Counter", role=2),
    string("Source_Name", "Source_Name_Counter", display="Source-Name"),
    u("Target_Name_Counter", 5, display="Target-Name Counter", role=2),
    string("Target_Name", "Target_Name_Counter", display="Target-Name"),
    u("System_Identification_Number", 8),
    u("Utilized_Transformation_Message_Indicator", 10, role=2),
    # Days after MJD 44244 (GPS time's origin).
    u("Reference_Epoch_t0", 16, display="Reference Epoch t0 after MJD 44244", unit="day", si=(1, "d")),
    i("dX0", 23, scale=0.001, unit="meter"),
    i("dY0", 23, scale=0.001, unit="meter"),
    i("dZ0", 23, scale=0.001, unit="meter"),
    i("R01", 32, **ROTATION),
    i("R02", 32, **ROTATION),
    i("R03", 32, **ROTATION),
    i("dS0", 25, scale=0.00001, unit="ppm", si=(0.00001, "ppm")),
    i("Dot_dX", 17, display="dot dX", **TRANSLATION_RATE),
    i("Dot_dY", 17, display="dot dY", **TRANSLATION_RATE),
    i("Dot_dZ", 17, display="dot dZ", **TRANSLATION_RATE),
    i("Dot_R1", 17, display="dot R1", **ROTATION_RATE),
    i("Dot_R2", 17, display="dot R2", **ROTATION_RATE),
    i("Dot_R3", 17, display="dot R3", **ROTATION_RATE),
    i("Dot_dS", 14, display="dot dS", scale=0.0000002, unit="ppmperyear", si=(0.0000002, "ppm/yr")),
], codec_only=True, text="15-parameter Helmert transformation")

subrecord("CRS_Database_Link", 207, [
    u("Database_Link_Counter", 5, role=2),
    string("Database_Link", "Database_Link_Counter"),
])

message(1302, 206, [
    u("RTCM_CRS_Name_Counter", 5, display="RTCM CRS Name Counter", role=2),
    string("RTCM_CRS_Name", "RTCM_CRS_Name_Counter", display="RTCM CRS Name"),
    bits("Anchor", 1, symbols={0: "global", 1: "plate-fixed"}),
    u("Plate_Number", 5),
    u("Nr_of_Database_Links", 3),
    group("Database_Links", "CRS_Database_Link", count="Nr_of_Database_Links", repeated=True),
], codec_only=True, text="RTCM CRS")
