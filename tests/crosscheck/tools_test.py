"""Tests of the comparison tools themselves: the netlist translation, the
analytic oscillator, event extraction and the tolerance rules."""
import math
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "support"))

import crosscheck  # noqa: E402
import spicecmp  # noqa: E402
import to_ngspice  # noqa: E402

NETLIST = """switch test
.param vmid=1 rb=1meg
.plugin sw lib.so
V1 a 0 DC 5
Y1 a 0 c 0 sw ROFF={rb*10} VTHRES={vmid + time*250} CTRL0=1
Y2 a b
+ c 0 sw RON=10m VHYST=0.2
Rb b 0 1k
.print tran V(a) Y1:STATE Y2:I I(V1)
.end
"""


class Translation(unittest.TestCase):
    def setUp(self):
        self.net, self.switches, self.vectors = to_ngspice.translate(NETLIST, "out.dat")
        self.lines = self.net.splitlines()

    def test_switch_becomes_s_element_with_sense_source_and_own_model(self):
        self.assertIn("sy2 a y2_s c 0 y2_model OFF", self.lines)
        self.assertIn("vy2_sense y2_s b 0", self.lines)
        # Parameters not given take the catalogue defaults.
        self.assertIn(".model y2_model SW(VT=0.0 VH=0.2 RON=10m ROFF=1.0e9)", self.lines)

    def test_ctrl0_one_starts_on_and_threshold_in_time_moves_to_a_b_source(self):
        self.assertIn("by1_ctl y1_ctl 0 V=v(c)-(vmid + time*250)", self.lines)
        self.assertIn("sy1 a y1_s y1_ctl 0 y1_model ON", self.lines)
        self.assertIn(".model y1_model SW(VT=0 VH=0.0 RON=1.0e-3 ROFF={rb*10})", self.lines)

    def test_printed_items_become_vectors_and_plugin_lines_go(self):
        self.assertEqual(self.vectors, ["v(a)", "i(vy1_sense)", "i(vy2_sense)", "v(b)", "i(v1)"])
        self.assertFalse(any(l.lower().startswith((".plugin", ".print", "y")) for l in self.lines))
        self.assertIn("wrdata out.dat v(a) i(vy1_sense) i(vy2_sense) v(b) i(v1)", self.lines)

    def test_resistances_are_evaluated_over_params(self):
        self.assertEqual(self.switches["y1"].roff, 1e7)
        self.assertEqual(self.switches["y2"].ron, 0.01)

    def test_time_dependent_resistance_is_refused(self):
        with self.assertRaises(ValueError):
            to_ngspice.translate(".t\n.plugin sw x\nY1 a 0 c 0 sw RON={1+time}\n", "d")


class Numbers(unittest.TestCase):
    def test_spice_suffixes_and_expressions(self):
        self.assertEqual(to_ngspice.evaluate("100meg", {}), 1e8)
        self.assertEqual(to_ngspice.evaluate("4.7k", {}), 4700.0)
        self.assertAlmostEqual(to_ngspice.evaluate("{2*r + 1u}", {"r": 3.0}), 6.000001)

    def test_tran_rewrite_keeps_step_and_uic(self):
        self.assertEqual(crosscheck.with_tran(".tran 1u 20m UIC", stop="1.2m", tmax="10n"),
                         ".tran 1u 1.2m 0 10n UIC")
        self.assertEqual(crosscheck.with_tran(".tran 1u 3m", stop="2m"), ".tran 1u 2m")


class Oscillator(unittest.TestCase):
    def test_instants_alternate_and_follow_the_rc_law(self):
        got = spicecmp.relaxation_instants(5.0, 1e3, 1e-6, 1.0, 1e9, 2.5, 0.5, 20e-3)
        self.assertEqual([s for _, s in got[:4]], [1, 0, 1, 0])
        roff_tau = (1e3 * 1e9 / (1e3 + 1e9)) * 1e-6
        v_inf = 5.0 * 1e9 / (1e3 + 1e9)
        self.assertAlmostEqual(got[0][0], roff_tau * math.log(v_inf / (v_inf - 3.0)), delta=1e-15)
        ron_tau = (1e3 * 1.0 / 1001.0) * 1e-6
        v_low = 5.0 / 1001.0
        self.assertAlmostEqual(got[1][0] - got[0][0], ron_tau * math.log((3 - v_low) / (2 - v_low)), delta=1e-15)
        # Every later cycle charges from 2 V to 3 V and discharges back.
        period = roff_tau * math.log((v_inf - 2.0) / (v_inf - 3.0)) + ron_tau * math.log((3 - v_low) / (2 - v_low))
        self.assertAlmostEqual(got[2][0] - got[0][0], period, delta=1e-15)
        self.assertAlmostEqual(got[-2][0] - got[-4][0], period, delta=1e-15)
        self.assertLessEqual(got[-1][0], 20e-3)

    def test_events_and_states(self):
        self.assertEqual(spicecmp.switching_instants([0, 1, 2, 3, 4], [0, 0, 1, 1, 0]), [(2, 1), (4, 0)])
        self.assertEqual(spicecmp.state_from_resistance([1.0, 1.0], [1.0, 1e-9], 1.0, 1e9), [1, 0])

    def test_interpolation_and_clamping(self):
        self.assertEqual(spicecmp.interpolate([0.0, 1.0, 3.0], [0.0, 2.0, 4.0], 2.0), 3.0)
        self.assertEqual(spicecmp.interpolate([0.0, 1.0], [5.0, 7.0], -1.0), 5.0)
        self.assertEqual(spicecmp.interpolate([0.0, 1.0], [5.0, 7.0], 9.0), 7.0)


class EventTolerance(unittest.TestCase):
    NG_TIMES = [0.0, 1.0, 2.0, 2.5, 4.0]

    def test_instant_within_ngspice_step_passes(self):
        problems, worst = crosscheck.compare_events([(2.2, 1)], [(2.5, 1)], self.NG_TIMES, span=0.0)
        self.assertEqual(problems, [])
        self.assertAlmostEqual(worst, 0.3)

    def test_instant_beyond_the_step_fails(self):
        problems, _ = crosscheck.compare_events([(1.9, 1)], [(2.5, 1)], self.NG_TIMES, span=0.0)
        self.assertEqual(len(problems), 1)

    def test_different_sequences_fail(self):
        problems, worst = crosscheck.compare_events([(2.5, 1), (4.0, 0)], [(2.5, 1)], self.NG_TIMES, span=0.0)
        self.assertIsNone(worst)
        self.assertIn("events differ", problems[0])


if __name__ == "__main__":
    unittest.main()
