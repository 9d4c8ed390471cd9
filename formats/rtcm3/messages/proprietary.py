"""Proprietary and integrity messages: 4090, 4091 and the two sub-types of 4089.

4090 and 4091 are known by their number only; whatever body such a frame carries is not
modelled. 4089 is split by the 12-bit KVT_ID right after the message number: sub-type 1
carries position and velocity with time and status, sub-type 2 their accuracy.
"""
from kvtcg.dsl import *

family("proprietary")

for number, enum, maker in [(4090, 42, "Geo++"), (4091, 43, "Topcon")]:
    message(number, enum, [], text=f"Proprietary message {maker}")


def sigil_head(status_bits):
    """Sub-type, time and status, shared by both sub-types; each keeps the status bits
    it names as members of their own, read out of Status as soon as it is decoded."""
    flags = [f"Bit_{n}" for n in status_bits]
    return [
        u("KVT_ID", 12, display="KVT_ID"),
        u("TOW", 32, scale=0.001, unit="second", precision=3),
        u("WNc", 16, unit="week"),
        u("Status", 16, role=2, subfields=flags),
    ] + [derived(flag, "u8", bit_of("Status", n), host="u(1)")
         for flag, n in zip(flags, status_bits)]


message(4089, 44, sigil_head((0, 1, 2, 14, 15)) + [
    i("X", 40, scale=0.1, unit="millimeter"),
    i("Y", 40, scale=0.1, unit="millimeter"),
    i("Z", 40, scale=0.1, unit="millimeter"),
    u("Datum", 8, symbols={0: "WGS-84", 1: "Galileo", 2: "PZ-90.02"}),
    i("Vx", 32, scale=0.1, unit="millimeterpersecond"),
    i("Vy", 32, scale=0.1, unit="millimeterpersecond"),
    i("Vz", 32, scale=0.1, unit="millimeterpersecond"),
    u("DTOW", 16, scale=0.001, unit="second"),
    i("DeltaX", 32, scale=0.1, unit="millimeter"),
    i("DeltaY", 32, scale=0.1, unit="millimeter"),
    i("DeltaZ", 32, scale=0.1, unit="millimeter"),
], name="SIGIL_1", subtype=1, text="Position, velocity and delta position")


# Accuracy: eighteen 24-bit members in three triples of sigmas and correlations. Their
# host names keep the underscore.
#     members, in wire order                                                wire  scale  unit
ACCURACY = [
    (("Sigma_xx", "Sigma_yy", "Sigma_zz"),                                  u,    0.1,   "millimeter"),
    (("Rho_xy", "Rho_xz", "Rho_yz"),                                        i,    1e-6,  None),
    (("Sigma_VxVx", "Sigma_VyVy", "Sigma_VzVz"),                            u,    0.1,   "millimeterpersecond"),
    (("Rho_VxVy", "Rho_VxVz", "Rho_VyVz"),                                  i,    1e-6,  None),
    (("Sigma_DeltaXDeltaX", "Sigma_DeltaYDeltaY", "Sigma_DeltaZDeltaZ"),    u,    0.1,   "millimeter"),
    (("Rho_DeltaXDeltaY", "Rho_DeltaXDeltaZ", "Rho_DeltaYDeltaZ"),          i,    1e-6,  None),
]


def accuracy():
    members = []
    for names, wire, scale, unit in ACCURACY:
        for name in names:
            meta = {"unit": unit} if unit else {}
            members.append(wire(name, 24, display=name, scale=scale, **meta))
    return members


message(4089, 45, sigil_head((0, 1, 2)) + accuracy(), name="SIGIL_2", subtype=2,
        text="Covariance of position and velocity")
