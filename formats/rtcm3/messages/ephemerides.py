"""Broadcast ephemerides: 1019 (GPS), 1020 (GLONASS), 1041 (NavIC/IRNSS), 1042 (BeiDou),
1044 (QZSS), 1045 (Galileo F/NAV) and 1046 (Galileo I/NAV).

Flat messages of fixed length: no counts, no groups, no sub-records. The zero bits
that bring 1041, 1042 and 1044 to a byte boundary are the frame's pad.

GLONASS sends its orbit and clock values as sign and magnitude: each is a sign bit
(_SB), a scaled magnitude (_mag) and the signed value the decoder derives from them,
in single precision except for the positions x, y and z.
"""
from kvtcg.dsl import *

family("ephemerides")

CODE_ON_L2 = {0: "Reserved", 1: "P code ON", 2: "C/A code ON", 3: "L2C ON"}
L2P_DATA = {0: "L2P-Code NAV data ON", 1: "L2P-Code NAV data OFF"}
FIT_4_HOURS = {0: "Curve-fit interval is 4 hours",
               1: "Curve-fit interval is greater than 4 hours"}
FIT_2_HOURS = {0: "Curve-fit interval is 2 hours",
               1: "Curve-fit interval is greater than 2 hours"}
HEALTH = {0: "OK", 1: "Out Of Service", 2: "Will Be Out Of Service", 3: "In Test"}
VALIDITY = {0: "Valid", 1: "Without Guarantee"}


message(1019, 23, [
    u("Satellite_ID", 6),
    u("Week_Number", 10, unit="week"),
    u("SV_Accuracy", 4),
    bits("Code_On_L2", 2, symbols=CODE_ON_L2),
    i("IDOT", 14, scale=2**-43, unit="semicirclepersecond"),
    u("IODE", 8),
    u("t_oc", 16, scale=16, unit="second"),
    i("a_f2", 8, scale=2**-55, unit="secondpersecondsquared"),
    i("a_f1", 16, scale=2**-43, unit="secondpersecond"),
    i("a_f0", 22, scale=2**-31, unit="second"),
    u("IODC", 10),
    i("C_rs", 16, scale=2**-5, unit="meter"),
    i("Delta_n", 16, scale=2**-43, unit="semicirclepersecond"),
    i("M_0", 32, scale=2**-31, unit="semicircle"),
    i("C_uc", 16, scale=2**-29, unit="radian"),
    u("e", 32, scale=2**-33),
    i("C_us", 16, scale=2**-29, unit="radian"),
    u("SQRT_A", 32, scale=2**-19, unit="metersqrt"),
    u("t_oe", 16, scale=16, unit="second"),
    i("C_ic", 16, scale=2**-29, unit="radian"),
    i("OMEGA_0", 32, scale=2**-31, unit="semicircle"),
    i("C_is", 16, scale=2**-29, unit="radian"),
    i("i_0", 32, scale=2**-31, unit="semicircle"),
    i("C_rc", 16, scale=2**-5, unit="meter"),
    i("omega", 32, scale=2**-31, unit="semicircle"),
    i("OMEGADOT", 24, scale=2**-43, unit="semicirclepersecond"),
    i("T_gd", 8, scale=2**-31, unit="second"),
    u("SV_Health", 6),
    bits("L2P_Data_Flag", 1, symbols=L2P_DATA),
    bits("Fit_Interval", 1, symbols=FIT_4_HOURS),
], text="GPS Satellite Ephemeris Data")


def signed_value(name, width, scale, rec, unit=None):
    """Sign bit, magnitude and the value derived from them. The raw parts carry
    structure (role 2) and the magnitude's scale; the value carries the unit."""
    value_meta = {"unit": unit} if unit else {}
    return [
        bits(name + "_SB", 1, role=2),
        u(name + "_mag", width, scale=scale, role=2),
        derived(name, rec, sign_magnitude(name + "_SB", name + "_mag", scale),
                virtual=True, **value_meta),
    ]


message(1020, 24, [
    u("Satellite_ID", 6),
    u("Channel_Number", 5, si=(1, None), zero=7),  # the frequency channel, sent plus 7
    bits("Cn", 1),
    bits("Cn_Available", 1),
    bits("P1", 2),
    # The frame's time of day: hours, minutes and a half-minute.
    u("tK", 12, si=(1, "s"), parts=(("Hours", 5, 3600), ("Minutes", 6, 60), ("Half_Minute", 1, 30))),
    bits("B_MSB", 1),
    bits("P2", 1),
    u("tb", 7, scale=15, unit="minute"),
    *signed_value("dx", 23, 2**-20, "f32", unit="kilometerpersecond"),
    *signed_value("x", 26, 2**-11, "f64", unit="kilometer"),
    *signed_value("ddx", 4, 2**-30, "f32", unit="kilometerpersecondsquared"),
    *signed_value("dy", 23, 2**-20, "f32", unit="kilometerpersecond"),
    *signed_value("y", 26, 2**-11, "f64", unit="kilometer"),
    *signed_value("ddy", 4, 2**-30, "f32", unit="kilometerpersecondsquared"),
    *signed_value("dz", 23, 2**-20, "f32", unit="kilometerpersecond"),
    *signed_value("z", 26, 2**-11, "f64", unit="kilometer"),
    *signed_value("ddz", 4, 2**-30, "f32", unit="kilometerpersecondsquared"),
    bits("P3", 1),
    *signed_value("gamma", 10, 2**-40, "f32"),
    bits("P", 2),
    bits("l", 1),
    *signed_value("tau", 21, 2**-30, "f32", unit="second"),
    *signed_value("dtau", 4, 2**-30, "f32", unit="second"),
    u("E", 5, unit="day"),
    bits("P4", 1),
    u("F_T", 4),
    u("N_T", 11, unit="day"),
    bits("M", 2),
    bits("Additional_Data_Available", 1),
    u("N_A", 11, unit="day"),
    *signed_value("tau_C", 31, 2**-31, "f32", unit="second"),
    u("N_4", 5),
    *signed_value("tau_GPS", 21, 2**-30, "f32", unit="second"),
    bits("l_n", 1),
    bits("Reserved1", 7, reserved=True),
], text="GLONASS Satellite Ephemeris Data")


message(1041, 36, [
    u("Satellite_ID", 6),
    u("Week_Number", 10, unit="week"),
    i("a_f0", 22, scale=2**-31, unit="second"),
    i("a_f1", 16, scale=2**-43, unit="secondpersecond"),
    i("a_f2", 8, scale=2**-55, unit="secondpersecondsquared"),
    u("URA", 4),
    u("t_oc", 16, scale=16, unit="second"),
    i("T_GD", 8, scale=2**-31, unit="second"),
    i("Delta_n", 22, scale=2**-41, unit="semicirclepersecond"),
    u("IODEC", 8),
    u("Reserved1", 10),
    u("L5_Flag", 1),
    u("S_Flag", 1),
    i("C_uc", 15, scale=2**-28, unit="radian"),
    i("C_us", 15, scale=2**-28, unit="radian"),
    i("C_ic", 15, scale=2**-28, unit="radian"),
    i("C_is", 15, scale=2**-28, unit="radian"),
    i("C_rc", 15, scale=2**-4, unit="meter"),
    i("C_rs", 15, scale=2**-4, unit="meter"),
    i("IDOT", 14, scale=2**-43, unit="semicirclepersecond"),
    i("M_0", 32, scale=2**-31, unit="semicircle"),
    u("t_oe", 16, scale=16, unit="second"),
    u("e", 32, scale=2**-33),
    u("SQRT_A", 32, scale=2**-19, unit="metersqrt"),
    i("OMEGA_0", 32, scale=2**-31, unit="semicircle"),
    i("omega", 32, scale=2**-31, unit="semicircle"),
    i("OMEGADOT", 22, scale=2**-41, unit="semicirclepersecond"),
    i("i_0", 32, scale=2**-31, unit="semicircle"),
    u("Spare1", 2),
    u("Spare2", 2),
], text="NavIC/IRNSS Satellite Ephemeris Data")


message(1042, 37, [
    u("Satellite_ID", 6),
    u("Week_Number", 13, unit="week"),
    u("SV_URAI", 4),
    i("IDOT", 14, scale=2**-43, unit="semicirclepersecond"),
    u("AODE", 5),
    u("t_oc", 17, scale=8, unit="second"),
    i("a_2", 11, scale=2**-66, unit="secondpersecondsquared"),
    i("a_1", 22, scale=2**-50, unit="secondpersecond"),
    i("a_0", 24, scale=2**-33, unit="second"),
    u("AODC", 5),
    i("C_rs", 18, scale=2**-6, unit="meter"),
    i("Delta_n", 16, scale=2**-43, unit="semicirclepersecond"),
    i("M_0", 32, scale=2**-31, unit="semicircle"),
    i("C_uc", 18, scale=2**-31, unit="radian"),
    u("e", 32, scale=2**-33),
    i("C_us", 18, scale=2**-31, unit="radian"),
    u("SQRT_A", 32, scale=2**-19, unit="metersqrt"),
    u("t_oe", 17, scale=8, unit="second"),
    i("C_ic", 18, scale=2**-31, unit="radian"),
    i("OMEGA_0", 32, scale=2**-31, unit="semicircle"),
    i("C_is", 18, scale=2**-31, unit="radian"),
    i("i_0", 32, scale=2**-31, unit="semicircle"),
    i("C_rc", 18, scale=2**-6, unit="meter"),
    i("omega", 32, scale=2**-31, unit="semicircle"),
    i("OMEGADOT", 24, scale=2**-43, unit="semicirclepersecond"),
    # Group delays in tenths of a nanosecond: a decimal scale, not a power of two.
    i("T_GD1", 10, scale=1e-10, unit="second"),
    i("T_GD2", 10, scale=1e-10, unit="second"),
    bits("SV_Health", 1),
], text="BeiDou Satellite Ephemeris Data")


message(1044, 38, [
    u("Satellite_ID", 4),
    u("t_oc", 16, scale=16, unit="second"),
    i("a_f2", 8, scale=2**-55, unit="secondpersecondsquared"),
    i("a_f1", 16, scale=2**-43, unit="secondpersecond"),
    i("a_f0", 22, scale=2**-31, unit="second"),
    u("IODE", 8),
    i("C_rs", 16, scale=2**-5, unit="meter"),
    i("Delta_n", 16, scale=2**-43, unit="semicirclepersecond"),
    i("M_0", 32, scale=2**-31, unit="semicircle"),
    i("C_uc", 16, scale=2**-29, unit="radian"),
    u("e", 32, scale=2**-33),
    i("C_us", 16, scale=2**-29, unit="radian"),
    u("SQRT_A", 32, scale=2**-19, unit="metersqrt"),
    u("t_oe", 16, scale=16, unit="second"),
    i("C_ic", 16, scale=2**-29, unit="radian"),
    i("OMEGA_0", 32, scale=2**-31, unit="semicircle"),
    i("C_is", 16, scale=2**-29, unit="radian"),
    i("i_0", 32, scale=2**-31, unit="semicircle"),
    i("C_rc", 16, scale=2**-5, unit="meter"),
    i("omega", 32, scale=2**-31, unit="semicircle"),
    i("OMEGADOT", 24, scale=2**-43, unit="semicirclepersecond"),
    i("i_0_DOT", 14, scale=2**-43, unit="semicirclepersecond"),
    bits("Code_On_L2", 2, symbols={2: "C/A code ON"}),
    u("Week_Number", 10, unit="week"),
    u("URA", 4),
    u("SV_Health", 6),
    i("T_gd", 8, scale=2**-31, unit="second"),
    u("IODC", 10),
    bits("Fit_Interval", 1, symbols=FIT_2_HOURS),
], text="QZSS Satellite Ephemeris Data")


def galileo_navigation():
    """Clock and orbit, common to the F/NAV and I/NAV messages."""
    return [
        u("Satellite_ID", 6),
        u("Week_Number", 12, unit="week"),
        u("IODnav", 10),
        u("SV_SISA", 8),
        i("IDOT", 14, scale=2**-43, unit="semicirclepersecond"),
        u("t_oc", 14, scale=60, unit="second"),
        i("a_f2", 6, scale=2**-59, unit="secondpersecondsquared"),
        i("a_f1", 21, scale=2**-46, unit="secondpersecond"),
        i("a_f0", 31, scale=2**-34, unit="second"),
        i("C_rs", 16, scale=2**-5, unit="meter"),
        i("Delta_n", 16, scale=2**-43, unit="semicirclepersecond"),
        i("M_0", 32, scale=2**-31, unit="semicircle"),
        i("C_uc", 16, scale=2**-29, unit="radian"),
        u("e", 32, scale=2**-33),
        i("C_us", 16, scale=2**-29, unit="radian"),
        u("SQRT_A", 32, scale=2**-19, unit="metersqrt"),
        u("t_oe", 14, scale=60, unit="second"),
        i("C_ic", 16, scale=2**-29, unit="radian"),
        i("OMEGA_0", 32, scale=2**-31, unit="semicircle"),
        i("C_is", 16, scale=2**-29, unit="radian"),
        i("i_0", 32, scale=2**-31, unit="semicircle"),
        i("C_rc", 16, scale=2**-5, unit="meter"),
        i("omega", 32, scale=2**-31, unit="semicircle"),
        i("OMEGADOT", 24, scale=2**-43, unit="semicirclepersecond"),
    ]


message(1045, 39, galileo_navigation() + [
    i("BGD_E1_E5a", 10, scale=2**-32, unit="second", display="BGD E1,E5a"),
    bits("E5a_HS", 2, symbols=HEALTH),
    bits("E5a_DVS", 1, symbols=VALIDITY),
    bits("Reserved1", 7, reserved=True),
], text="Galileo F/NAV Satellite Ephemeris Data", layout="GalileoOrbit")

message(1046, 40, galileo_navigation() + [
    i("BGD_E1_E5a", 10, scale=2**-32, unit="second", display="BGD E1,E5a"),
    i("BGD_E1_E5b", 10, scale=2**-32, unit="second", display="BGD E1,E5b"),
    bits("E5b_HS", 2, symbols=HEALTH),
    bits("E5b_DVS", 1, symbols=VALIDITY),
    bits("E1_B_HS", 2, symbols=HEALTH, display="E1-B HS"),
    bits("E1_B_DVS", 1, symbols=VALIDITY, display="E1-B DVS"),
    bits("Reserved1", 2, reserved=True),
], text="Galileo I/NAV Satellite Ephemeris Data", layout="GalileoOrbit")
