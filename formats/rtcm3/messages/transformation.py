"""Coordinate transformation: Helmert / Molodenski parameters (1021, 1022), residual
grids of 16 points (1023 ellipsoidal, 1024 plane), projection parameters (1025-1027)
and the physical reference station position (1032).

All are flat records except for the two name strings of 1021/1022 and the 16-point
grids, whose size is fixed and never on the wire.
"""
from kvtcg.dsl import *

family("transformation")

UNDEFINED = {0: "undefined"}
UTILIZED = {0: "Message not utilized", 1: "Message utilized"}
NO_SHIFT = {0: "no shift", 1: "apply shift"}

TRANSFORMATION_QUALITY = {
    0: "unknown quality", 1: "better than 21 mm", 2: "21 to 50 mm", 3: "51 to 200 mm",
    4: "201 to 500 mm", 5: "501 to 2000 mm", 6: "2001 to 5000 mm", 7: "worse than 5001 mm",
}

PLATES = {
    0: "unknown plate", 1: "AFRC", 2: "ANTA", 3: "ARAB", 4: "AUST", 5: "CARB", 6: "COCO",
    7: "EURA", 8: "INDI", 9: "NOAM", 10: "NAZC", 11: "PCFC", 12: "SOAM", 13: "JUFU",
    14: "PHIL", 15: "RIVR", 16: "SCOT",
}

INTERPOLATION = {0: "bi-linear", 1: "bi-quadtratic", 2: "bi-spline", 3: "reserved"}

GRID_QUALITY = {
    0: "unknown quality", 1: "0 to 10 mm", 2: "11 to 20 mm", 3: "21 to 50 mm",
    4: "51 to 100 mm", 5: "101 to 200 mm", 6: "201 to 500 mm", 7: "worse than 501 mm",
}

INDICATOR = "Utilized_Transformation_Message_Indicator"
UTILIZED_MESSAGES = (1023, 1024, 1025, 1026, 1027)   # bit 0 upwards; bits 5-9 unnamed


# --------------------------------------------------------------------------------------
# 1021 (Helmert / abridged Molodenski) and 1022 (Molodenski-Badekas): one table, with
# the rotation point only in 1022 and a reserved tail one bit shorter there.

def transformation_parameters(badekas: bool):
    utilized = [f"Utilized_{n}" for n in UTILIZED_MESSAGES]
    members = [
        u("Source_Name_Counter", 5, display="Source-Name Counter", role=2),
        string("Source_Name", "Source_Name_Counter", display="Source-Name"),
        u("Target_Name_Counter", 5, display="Target-Name Counter", role=2),
        string("Target_Name", "Target_Name_Counter", display="Target-Name"),
        u("System_Identification_Number", 8),
        u(INDICATOR, 10, role=2, subfields=utilized),
    ]
    # Not on the wire: one flag per bit of the indicator, shown as the one bit it is.
    # Init clears them, as it clears every derived member.
    members += [derived(name, "u8", bit_of(INDICATOR, bit), host="u(1)", symbols=UTILIZED)
                for bit, name in enumerate(utilized)]
    members += [
        u("Plate_Number", 5, symbols=PLATES),
        u("Computation_Indicator", 4, symbols={
            0: "standard, approximation", 1: "standard, strict",
            2: "Molodenski, abridged", 3: "Molodenski-Badekas"}),
        u("Height_Indicator", 2, symbols={
            0: "Geometric", 1: "Physical 1", 2: "Physical 2", 3: "Reserved"}),
        i("PhiV", 19),
        i("LambdaV", 20),
        u("DPhiV", 14, symbols=UNDEFINED),
        u("DLambdaV", 14, symbols=UNDEFINED),
        i("dX", 23),
        i("dY", 23),
        i("dZ", 23),
        i("R1", 32),
        i("R2", 32),
        i("R3", 32),
        i("dS", 25),
    ]
    if badekas:
        members += [
            i("Xp", 35),
            i("Yp", 35),
            i("Zp", 35),
        ]
    members += [
        u("add_aS", 24, symbols=UNDEFINED),
        u("add_bS", 25, symbols=UNDEFINED),
        u("add_aT", 24, symbols=UNDEFINED),
        u("add_bT", 25, symbols=UNDEFINED),
        u("Horizontal_Quality_Indicator", 3, symbols=TRANSFORMATION_QUALITY),
        u("Vertical_Quality_Indicator", 3, symbols=TRANSFORMATION_QUALITY),
        bits("Reserved1", 3 if badekas else 4, reserved=True),
    ]
    return members


message(1021, 25, transformation_parameters(badekas=False),
        text="Helmert / Abridged Molodenski Transformation Parameters")
message(1022, 26, transformation_parameters(badekas=True),
        text="Molodenski-Badekas Transformation Parameters")


# --------------------------------------------------------------------------------------
# 1023 / 1024: residual grids. The grid is always 16 entries of three 9-bit residuals;
# an entry that does not fit ends the grid but not the message (the fields after the
# grid are still tried at the position where it stopped).

subrecord("llh_Residual", 27, [
    i("dPhi", 9),
    i("dLambda", 9),
    i("dh", 9),
])

subrecord("enu_Residual", 28, [
    i("dN", 9),
    i("dE", 9),
    i("dh", 9),
])


def grid_head():
    return [
        u("System_Identification_Number", 8),
        bits("Horizontal_Shift_Indicator", 1, symbols=NO_SHIFT),
        bits("Vertical_Shift_Indicator", 1, symbols=NO_SHIFT),
    ]


def grid_tail():
    return [
        bits("Horizontal_Interpolation_Method_Indicator", 2, symbols=INTERPOLATION),
        bits("Vertical_Interpolation_Method_Indicator", 2, symbols=INTERPOLATION),
        bits("Horizontal_Grid_Quality_Indicator", 3, symbols=GRID_QUALITY),
        bits("Vertical_Grid_Quality_Indicator", 3, symbols=GRID_QUALITY),
        u("MJD_Number", 16),
    ]


message(1023, 56, grid_head() + [
    i("Phi0", 21),
    i("Lambda0", 22),
    u("DPhi", 12, symbols=UNDEFINED),
    u("DLambda", 12, symbols=UNDEFINED),
    i("Mean_DPhi", 8),
    i("Mean_DLambda", 8),
    i("Mean_DH", 15),
    group("Residuals", "llh_Residual", count=16, continue_on_error=True),
] + grid_tail() + [
    bits("Reserved1", 6, reserved=True),
], text="Residuals, Ellipsoidal Grid Representation")

# The plane grid has no reserved tail: its last two bits before the CRC are the pad.
message(1024, 57, grid_head() + [
    i("N0", 25),
    u("E0", 26),
    u("DN", 12, symbols=UNDEFINED),
    u("DE", 12, symbols=UNDEFINED),
    i("Mean_DN", 10),
    i("Mean_DE", 10),
    i("Mean_Dh", 15),
    group("Residuals", "enu_Residual", count=16, continue_on_error=True),
] + grid_tail(), text="Residuals, Plane Grid Representation")


# --------------------------------------------------------------------------------------
# 1025-1027: projection parameters.

def projection():
    return [
        u("System_Identification_Number", 8),
        u("projection_Type", 6),
    ]


message(1025, 29, projection() + [
    i("LaNO", 34),
    i("LoNO", 35),
    u("add_SNO", 30),
    u("FE", 36),
    i("FN", 35),
], text="Projection message, Lambert Conic Conformal")

message(1026, 30, projection() + [
    i("LaFO", 34),
    i("LoFO", 35),
    i("LaSP1", 34),
    i("LaSP2", 34),
    u("EFO", 36),
    i("NFO", 35),
], text="Projection message")

message(1027, 31, projection() + [
    bits("Rectification_Flag", 1),
    i("LaPC", 34),
    i("LoPC", 35),
    u("AzIL", 35),
    i("Diff_ARSG", 26),
    u("Add_SIL", 30),
    u("EPC", 36),
    i("NPC", 35),
], text="Projection message, Lambert Conic Conformal")


# --------------------------------------------------------------------------------------
# 1032: physical reference station position.

message(1032, 33, [
    u("Reference_Station_ID", 12),
    u("Physical_Reference_Station_ID", 12),
    u("Reserved1", 6, reserved=True),
    i("ECEF_X", 38, display="ECEF-X"),
    i("ECEF_Y", 38, display="ECEF-Y"),
    i("ECEF_Z", 38, display="ECEF-Z"),
], text="Physical Reference Station Position Information")
