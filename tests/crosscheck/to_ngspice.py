"""Writes the ngspice counterpart of a udmhost netlist that uses the switch.

Each switch instance `Yname n1 n2 nc1 nc2 PLUGIN RON=.. ROFF=.. VTHRES=..
VHYST=.. CTRL0=..` becomes an ngspice `S` element with its own `SW` model
(VT = VTHRES, VH = VHYST, initial state ON when CTRL0 is 1) and a 0 V source
in series, whose current is the switch current. A VTHRES that depends on time
cannot be a model parameter there; it moves into the control voltage through
a B source, and VT becomes 0. `.print tran` becomes a wrdata command.
"""
import re

DEFAULTS = {"RON": "1.0e-3", "ROFF": "1.0e9", "VTHRES": "0.0", "VHYST": "0.0", "CTRL0": "0.0"}


_SCALE = {"f": 1e-15, "p": 1e-12, "n": 1e-9, "u": 1e-6, "m": 1e-3, "k": 1e3, "meg": 1e6, "g": 1e9, "t": 1e12}
_NUMBER = re.compile(r"(?<![\w.])(\d+\.?\d*(?:e[-+]?\d+)?|\.\d+(?:e[-+]?\d+)?)(meg|[fpnumkgt])?[a-z]*",
                     re.IGNORECASE)


def evaluate(text, params):
    """The value of a SPICE number or a constant {expression} over .param values."""
    expr = text.strip().strip("{}").lower()
    expr = _NUMBER.sub(lambda m: repr(float(m.group(1)) * _SCALE.get((m.group(2) or "").lower(), 1.0)), expr)
    return float(eval(expr, {"__builtins__": {}}, dict(params)))  # our own example files only


class Switch:
    def __init__(self, name, nodes, params, values):
        self.name = name.lower()
        self.n1, self.n2, self.nc1, self.nc2 = (n.lower() for n in nodes)
        self.params = params
        self.ron = evaluate(params["RON"], values)
        self.roff = evaluate(params["ROFF"], values)

    @property
    def sense(self):
        return f"v{self.name}_sense"


def _logical_lines(text):
    lines = []
    for raw in text.splitlines():
        if raw.startswith("+") and lines:
            lines[-1] += " " + raw[1:]
        else:
            lines.append(raw)
    return lines


def _words(line):
    """Splits at white space outside braces and parentheses."""
    words, depth, current = [], 0, ""
    for ch in line:
        if ch in "{(":
            depth += 1
        elif ch in "})":
            depth -= 1
        if ch.isspace() and depth == 0:
            if current:
                words.append(current)
            current = ""
        else:
            current += ch
    if current:
        words.append(current)
    return words


def _initially_closed(ctrl0):
    try:
        return int(float(ctrl0)) == 1
    except ValueError:
        raise ValueError(f"CTRL0={ctrl0}: only a number can be translated")


def _voltage(a, b):
    if b == "0":
        return f"v({a})"
    if a == "0":
        return f"(-v({b}))"
    return f"(v({a})-v({b}))"


def translate(text, data_file):
    """Returns (ngspice netlist, switches by name, vectors written in order)."""
    lines = _logical_lines(text)
    out = [lines[0]]
    switches, prints = {}, []
    plugins, values = set(), {}
    for line in lines[1:]:
        stripped = line.strip()
        if not stripped or stripped.startswith("*"):
            out.append(line)
            continue
        words = _words(stripped)
        head = words[0].lower()
        if head == ".param":
            for word in words[1:]:
                key, _, value = word.partition("=")
                values[key.lower()] = evaluate(value, values)
            out.append(line)
        elif head == ".plugin":
            plugins.add(words[1].lower())
        elif head == ".print":
            prints += words[2:]
        elif head in (".end", ".options", ".option"):
            continue
        elif head.startswith("y"):
            if len(words) < 6 or words[5].lower() not in plugins:
                raise ValueError(f"not a switch instance: {line}")
            params = dict(DEFAULTS)
            for word in words[6:]:
                key, _, value = word.partition("=")
                params[key.upper()] = value
            for key in ("VHYST", "RON", "ROFF"):
                if re.search(r"\btime\b", params[key], re.IGNORECASE):
                    raise ValueError(f"{key}={params[key]}: a time-dependent {key} has no ngspice counterpart")
            sw = Switch(words[0], words[1:5], params, values)
            switches[sw.name] = sw
            out += _switch_lines(sw)
        else:
            out.append(line)
    vectors = _vectors(prints, switches)
    # Gear integration: trapezoidal rings after a switch steps its
    # resistance by decades; udmhost restarts with backward Euler there.
    out += [".options method=gear", ".control", "set wr_singlescale", "set wr_vecnames", "run",
            f"wrdata {data_file} {' '.join(vectors)}", "rusage all", ".endc", ".end", ""]
    return "\n".join(out), switches, vectors


def _switch_lines(sw):
    p = sw.params
    vt, nc1, nc2 = p["VTHRES"], sw.nc1, sw.nc2
    lines = []
    if re.search(r"\btime\b", vt, re.IGNORECASE):
        expr = vt.strip("{}")
        lines.append(f"b{sw.name}_ctl {sw.name}_ctl 0 V={_voltage(nc1, nc2)}-({expr})")
        nc1, nc2, vt = f"{sw.name}_ctl", "0", "0"
    state = "ON" if _initially_closed(p["CTRL0"]) else "OFF"
    lines += [f".model {sw.name}_model SW(VT={vt} VH={p['VHYST']} RON={p['RON']} ROFF={p['ROFF']})",
              f"s{sw.name} {sw.n1} {sw.name}_s {nc1} {nc2} {sw.name}_model {state}",
              f"{sw.sense} {sw.name}_s {sw.n2} 0"]
    return lines


def _vectors(prints, switches):
    vectors = []

    def add(v):
        if v not in vectors:
            vectors.append(v)

    for item in prints:
        low = item.lower()
        if ":" in low:
            name, output = low.split(":", 1)
            sw = switches[name]
            if output in ("state", "v", "i"):
                add(f"i({sw.sense})")
                for node in (sw.n1, sw.n2):
                    if node != "0":
                        add(f"v({node})")
        elif low.startswith("v(") or low.startswith("i("):
            add(low)
    return vectors


def switch_voltage(columns, sw):
    """The voltage across a switch, from the node voltages that were written."""
    n = len(columns["time"])
    v1 = columns[f"v({sw.n1})"] if sw.n1 != "0" else [0.0] * n
    v2 = columns[f"v({sw.n2})"] if sw.n2 != "0" else [0.0] * n
    return [a - b for a, b in zip(v1, v2)]
