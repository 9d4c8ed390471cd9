"""Station, antenna, receiver and system messages: 1005, 1006, 1007, 1008, 1033, 1013,
1029 and 1230.

They describe the reference station and its equipment rather than observations: the
antenna reference point, descriptor strings, the announced message schedule, a text
message and the GLONASS code-phase biases. Host fields show raw integers: no scales; the
physical values (si=) are in metres and seconds.
"""
from kvtcg.dsl import *

family("station")

# 1230 carries each bias only when its bit of the signal mask is set.
# A stored mask above 15 (only a caller can set one) selects none of them.
MASK_VALID = field_at_most("GLONASS_FDMA_Signals_Mask", 15)
L1_CA_BIAS = MASK_VALID & field_bit("GLONASS_FDMA_Signals_Mask", 8)
L1_P_BIAS = MASK_VALID & field_bit("GLONASS_FDMA_Signals_Mask", 4)
L2_CA_BIAS = MASK_VALID & field_bit("GLONASS_FDMA_Signals_Mask", 2)
L2_P_BIAS = MASK_VALID & field_bit("GLONASS_FDMA_Signals_Mask", 1)

INVALID_BIAS = {-32768: "Invalid"}
BIAS = (0.02, "m")


# --------------------------------------------------------------------------------------
# 1005 and 1006: stationary antenna reference point; 1006 adds the antenna height.

def antenna_reference_point():
    return [
        u("Reference_Station_ID", 12),
        u("Reserved1", 6, reserved=True),
        bits("GPS_Indicator", 1),
        bits("GLONASS_Indicator", 1),
        bits("Galileo_Indicator", 1),
        bits("Reference_Station_Indicator", 1, symbols={0: "Real", 1: "Virtual"}),
        i("ECEF_X", 38, si=(0.0001, "m"), display="ECEF-X"),
        bits("Single_Receiver_Oscillator_Indicator", 1),
        bits("Reserved2", 1, reserved=True),
        i("ECEF_Y", 38, si=(0.0001, "m"), display="ECEF-Y"),
        bits("Quarter_Cycle_Indicator", 2,
             symbols={0: "Unspecified", 1: "Corrected", 2: "Not Corrected", 3: "Reserved"}),
        i("ECEF_Z", 38, si=(0.0001, "m"), display="ECEF-Z"),
    ]


message(1005, 18, antenna_reference_point(), text="Stationary RTK Reference Station ARP",
        layout="StationPosition")
message(1006, 19, antenna_reference_point() + [
    u("Height", 16, si=(0.0001, "m")),
], text="Stationary RTK Reference Station ARP with Antenna Height", layout="StationPosition")


# --------------------------------------------------------------------------------------
# 1007, 1008 and 1033: antenna and receiver descriptors. Each text is a count byte
# followed by that many characters; each message extends the one before it.

def text(count, name):
    return [
        u(count, 8),
        string(name, count),
    ]


def descriptors(serial_number, receiver):
    members = [u("Reference_Station_ID", 12)]
    members += text("N", "Antenna_Descriptor")
    members += [u("Antenna_Setup_ID", 8)]
    if serial_number:
        members += text("M", "Antenna_Serial_Number")
    if receiver:
        members += text("I", "Receiver_Descriptor")
        members += text("J", "Receiver_Firmware_Version")
        members += text("K", "Receiver_Serial_Number")
    return members


#   number  enum  serial  receiver  short text
for number, enum, serial_number, receiver, short_text in [
        (1007, 20, False, False, "Antenna Descriptor"),
        (1008, 21, True, False, "Antenna Descriptor & Serial Number"),
        (1033, 35, True, True, "Receiver and Antenna Descriptors")]:
    message(number, enum, descriptors(serial_number, receiver), text=short_text,
            layout="AntennaDescriptors")


# --------------------------------------------------------------------------------------
# 1013: system parameters, with the list of announced messages.

subrecord("Announcement", 5, [
    u("Message_ID", 12),
    bits("Sync_Flag", 1, symbols={0: "Asynchronous", 1: "Synchronous"}),
    u("Transmission_Interval", 16, si=(0.1, "s")),
])

message(1013, 52, [
    u("Reference_Station_ID", 12),
    u("MJD_Number", 16),
    u("Seconds_of_Day", 17, si=(1, "s")),
    u("No_of_Announcements", 5),
    u("Leap_Seconds", 8, symbols={255: "Not Provided"}, si=(1, "s"), invalid=255),
    group("Announcements", "Announcement", count="No_of_Announcements"),
], text="System Parameters")


# --------------------------------------------------------------------------------------
# 1029: Unicode text. The code units are raw bytes, not terminated; the character count
# is only carried (multi-byte characters make it differ from the code unit count).

message(1029, 32, [
    u("Reference_Station_ID", 12),
    u("MJD_Number", 16),
    u("Seconds_of_Day", 17, si=(1, "s")),
    u("Number_of_Characters_to_Follow", 7),
    u("Number_of_UTF_8_Code_Units", 8, display="Number of UTF-8 Code Units"),
    array("UTF_8_Character_Code_Units", "u", 8, count="Number_of_UTF_8_Code_Units",
          capacity=255, display="UTF-8 Character Code Units", utf8=True),
], text="Unicode Text String")


# --------------------------------------------------------------------------------------
# 1230: GLONASS L1 and L2 code-phase biases, each present only under its mask bit.

message(1230, 41, [
    u("Reference_Station_ID", 12),
    bits("GLONASS_Code_Phase_bias_indicator", 1,
         display="GLONASS Code-Phase bias indicator"),
    bits("Reserved1", 3, reserved=True),
    bits("GLONASS_FDMA_Signals_Mask", 4),
    i("GLONASS_L1_C_A_Code_Phase_Bias", 16, when=L1_CA_BIAS, optional=True,
      display="GLONASS L1 C/A Code-Phase Bias", symbols=INVALID_BIAS, dnu=-32768, si=BIAS),
    i("GLONASS_L1_P_Code_Phase_Bias", 16, when=L1_P_BIAS, optional=True,
      display="GLONASS L1 P Code-Phase Bias", symbols=INVALID_BIAS, dnu=-32768, si=BIAS),
    i("GLONASS_L2_C_A_Code_Phase_Bias", 16, when=L2_CA_BIAS, optional=True,
      display="GLONASS L2 C/A Code-Phase Bias", symbols=INVALID_BIAS, dnu=-32768, si=BIAS),
    i("GLONASS_L2_P_Code_Phase_Bias", 16, when=L2_P_BIAS, optional=True,
      display="GLONASS L2 P Code-Phase Bias", symbols=INVALID_BIAS, dnu=-32768, si=BIAS),
], text="GLONASS L1 and L2 Code-Phase Biases")
