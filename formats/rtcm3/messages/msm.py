"""Multiple Signal Messages: 1071-1077 up to 1131-1137 (seven constellations, MSM1 to MSM7).

All 49 messages share one layout: a header with three masks, then one satellite-data and
one signal-data block. Both blocks are structures of arrays (one element per satellite,
one per cell); the level of the message picks which arrays are on the wire, and the
counts come from the masks of the message that holds the block. Ranges travel in
milliseconds of light time; their physical values (si=) are in metres.
"""
from kvtcg.dsl import *

family("msm")

GLONASS = msgnum_range(1081, 1087)

# Presence of the block arrays. In the blocks the message number is that of the MSM
# message that holds them.
ALWAYS = None
MSM4_TO_7 = msm_level(4, 5, 6, 7)
MSM5_OR_7 = msm_level(5, 7)
EXTENDED_INFO = MSM5_OR_7 & ~GLONASS
FREQUENCY_CHANNEL = MSM5_OR_7 & GLONASS
FINE_PSEUDORANGE = msm_level(1, 3, 4, 5)
FINE_PHASERANGE = msm_level(2, 3, 4, 5)
HIGH_RESOLUTION = msm_level(6, 7)
HALF_CYCLE = msm_level(2, 3, 4, 5, 6, 7)
CNR_COARSE = msm_level(4, 5)

SATELLITES = parent("Nsat")
CELLS = parent("Ncell")
CAPACITY = 64


def per_satellite(wire, name, width, when, **meta):
    return array(name, wire, width, count=SATELLITES, capacity=CAPACITY, when=when,
                 repeated=True, **meta)


def per_cell(wire, name, width, when, **meta):
    return array(name, wire, width, count=CELLS, capacity=CAPACITY, when=when,
                 repeated=True, optional=True, **meta)


subrecord("MSM_Satellite_Data", 16, [
    per_satellite("u", "Satellite_Rough_Range_Integer_ms", 8, MSM4_TO_7, optional=True,
                  symbols={255: "Invalid"}, dnu=255, si=(LIGHT_MS, "m")),
    per_satellite("u", "Extended_Satellite_Information", 4, EXTENDED_INFO, optional=True),
    per_satellite("u", "GLONASS_Satellite_Frequency_Channel_Number", 4, FREQUENCY_CHANNEL,
                  optional=True, si=(1, None), zero=7),  # sent plus 7
    # 1024 lies outside the 10-bit range: no decoded value ever matches it.
    per_satellite("u", "Satellite_Rough_Range_Mod_1ms", 10, ALWAYS,
                  symbols={1024: "Invalid"}, dnu=1024, si=(2**-10 * LIGHT_MS, "m")),
    per_satellite("i", "Satellite_Rough_PhaseRangeRate", 14, MSM5_OR_7, optional=True,
                  symbols={-8192: "Invalid"}, dnu=-8192, si=(1, "m/s")),
], parent="msm")

subrecord("MSM_Signal_Data", 17, [
    per_cell("i", "Fine_PseudoRange", 15, FINE_PSEUDORANGE,
             symbols={-16384: "Invalid"}, dnu=-16384, si=(2**-24 * LIGHT_MS, "m")),
    per_cell("i", "Fine_PhaseRange", 22, FINE_PHASERANGE,
             symbols={-2097152: "Invalid"}, dnu=-2097152, si=(2**-29 * LIGHT_MS, "m")),
    per_cell("u", "PhaseRange_Lock_Time_Indicator", 4, FINE_PHASERANGE),
    per_cell("i", "Fine_PseudoRange_Extended_Resolution", 20, HIGH_RESOLUTION,
             symbols={-524288: "Invalid"}, dnu=-524288, si=(2**-29 * LIGHT_MS, "m")),
    per_cell("i", "Fine_PhaseRange_Extended_Resolution", 24, HIGH_RESOLUTION,
             symbols={-8388608: "Invalid"}, dnu=-8388608, si=(2**-31 * LIGHT_MS, "m")),
    per_cell("u", "PhaseRange_Lock_Time_Indicator_Extended_Resolution", 10, HIGH_RESOLUTION),
    per_cell("u", "HalfCycle_Ambiguity_Indicator", 1, HALF_CYCLE),
    per_cell("u", "CNR", 6, CNR_COARSE, symbols={0: "Invalid"}, dnu=0, si=(1, "dB-Hz")),
    per_cell("u", "CNR_Extended_Resolution", 10, HIGH_RESOLUTION, symbols={0: "Invalid"}, dnu=0,
             si=(2**-4, "dB-Hz")),
    per_cell("i", "Fine_PhaseRangeRate", 15, MSM5_OR_7, symbols={-16384: "Invalid"}, dnu=-16384,
             si=(0.0001, "m/s")),
], parent="msm")


def layout():
    return [
        u("Reference_Station_ID", 12),
        u("Day_of_Week", 3, when=GLONASS, optional=True),
        # The host sees one type for every constellation, the widest.
        # Milliseconds of the week; of the day for GLONASS, whose day is the field before.
        u("Epoch_Time", widths(30, (GLONASS, 27)), host="u(30)", si=(0.001, "s")),
        bits("Multiple_Message_Flag", 1, symbols={0: "Last", 1: "More"}),
        u("IODS", 3),
        bits("Reserved1", 7, reserved=True),
        u("Clock_Steering_Indicator", 2,
          symbols={0: "Off", 1: "On", 2: "Unknown", 3: "Reserved"}),
        u("External_Clock_Indicator", 2,
          symbols={0: "Internal", 1: "External locked", 2: "External not locked",
                   3: "Unknown"}),
        bits("Smoothing_Indicator", 1, symbols={0: "Other", 1: "Divergence-free"}),
        bits("Smoothing_Interval", 3),
        u("Satellite_Mask", 64, role=2),
        u("Signal_Mask", 32, role=2),
        # One cell per byte, 0 or 1.
        # Counted by Cell_Mask_Length, which the host lists below but which is computed
        # as soon as Signal_Mask has been read.
        array("Cell_Mask", "bits", 1, count="Cell_Mask_Length", capacity=CAPACITY,
              repeated=True, role=2),
        # The counts are set as soon as their masks are read; Cell_Mask_Length is needed
        # before the cells, Ncell grows with every cell read.
        derived("Nsat", "u8", popcount("Satellite_Mask"), host="u(8)", virtual=True),
        derived("Nsig", "u8", popcount("Signal_Mask"), host="u(8)", virtual=True),
        derived("Ncell", "u8", count_ones("Cell_Mask"), host="u(8)", virtual=True),
        # Kept in 8 bits: 16 satellites by 16 signals give 0 cells.
        derived("Cell_Mask_Length", "u8", product("Nsat", "Nsig"), after="Signal_Mask",
                host="u(8)", virtual=True, role=2),
        embed("MSM_Satellite_Data", "MSM_Satellite_Data"),
        # The signal data has no error-code names of its own.
        embed("MSM_Signal_Data", "MSM_Signal_Data", numbered=False),
    ]


#    MSM1 number  enum   constellation
for first, enum, system in [
        (1071, 75, "GPS"),
        (1081, 82, "GLONASS"),
        (1091, 89, "Galileo"),
        (1101, 96, "SBAS"),
        (1111, 103, "QZSS"),
        (1121, 110, "BeiDou"),
        (1131, 117, "NavIC/IRNSS")]:
    for level in range(7):
        message(first + level, enum + level, layout(), text=f"{system} MSM{level + 1}", layout="Msm")
