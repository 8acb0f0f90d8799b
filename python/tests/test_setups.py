"""Setups across a restart: saved through the protocol from a calibrated board, opened with
--setup by the program with its windows, the same registers and outputs come back."""

import os
import socket
import subprocess

import pytest

from conftest import BINARY, start_server
from tq2604x_eval import TQ2604XError


def ask(connection, line):
    connection.sendall((line + "\n").encode())
    return connection.makefile("r").readline().strip()


def block_contents(answer):
    digits = int(answer[1])
    length = int(answer[2:2 + digits])
    body = answer[2 + digits:]
    assert len(body) == length
    return body


def console(script, *args):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    result = subprocess.run([BINARY, "--simulate", "--automation", *args], input=script,
                            capture_output=True, text=True, env=env, timeout=60)
    return result


def test_a_setup_survives_a_restart(tmp_path):
    server = start_server()
    try:
        with socket.create_connection(("127.0.0.1", server.port), timeout=10) as c:
            for n in range(1, 5):
                ask(c, "SOUR%d:VOLT:RANG %s;SOUR%d:GAIN %d;SOUR%d:OFFS %d;SOUR%d:VOLT %g;*OPC?"
                    % (n, (10, 10.2564, 10.5263, 10)[n - 1], n, 3 * n - 7, n, 11 * n - 30,
                       n, 2.5 * n - 6))
            ask(c, "SOUR:COD TWOS;CONT:GND ON;*OPC?")
            setup = block_contents(ask(c, "SYST:SET?"))
            outputs = [ask(c, "BENC:VOLT%d?" % n) for n in range(1, 5)]
            registers = [ask(c, "REG:READ? %d,%d" % (ch, reg))
                         for ch in range(4) for reg in (2, 3, 4, 5)]
            assert ask(c, "SYST:ERR?") == '0,"No error"'
    finally:
        assert server.stop() == 0
    path = tmp_path / "bench.json"
    path.write_text(setup)

    script = "".join("sim get %d %d\n" % (ch, reg) for ch in range(4) for reg in (2, 3, 4, 5))
    script += "".join("sim output %d\n" % ch for ch in range(4)) + "quit\n"
    run = console(script, "--setup", str(path))
    assert run.returncode == 0, run.stderr
    lines = [l for l in run.stdout.splitlines() if l != "ok"]
    assert [int(l, 16) for l in lines[:16]] == [int(r) for r in registers]
    assert [float(v) for v in lines[16:20]] == pytest.approx([float(o) for o in outputs],
                                                            abs=1e-6)


@pytest.mark.parametrize("contents, reason", [
    ("not json", "not a setup (JSON)"),
    ('{"format": 2}', "format: 2 is newer"),
    ('{"format": 1, "channels": {"A": {"offset": 999}}}', "channels.A.offset"),
])
def test_a_bad_setup_is_refused_by_name(tmp_path, contents, reason):
    path = tmp_path / "bad.json"
    path.write_text(contents)
    headless = subprocess.run([BINARY, "--headless", "--simulate", "--scpi", "0", "--setup",
                               str(path)], capture_output=True, text=True, timeout=30)
    assert headless.returncode == 2
    assert str(path) in headless.stderr and reason in headless.stderr
    # With windows the program goes on from the defaults and says so.
    run = console("messages\nget MainForm.StatusBar\nsim get 0 5\nquit\n", "--setup", str(path))
    assert run.returncode == 0
    assert "message: warning The setup was not opened: " + str(path) in run.stdout
    assert reason in run.stdout
    assert "text: Setup not opened: " + str(path) in run.stdout
    assert "0x0\n" in run.stdout


def test_setup_round_trip_through_a_file(dac, tmp_path):
    dac.ch_a.range = 10.5263
    dac.ch_a.voltage = -4.25
    dac.ch_b.fine_gain = 7
    dac.ch_c.offset = -40
    dac.coding = "twos-complement"
    dac.digital[2].direction = "output"
    path = tmp_path / "bench.json"
    dac.save_setup(str(path))
    text = path.read_text()
    assert text.startswith('{\n  "format": 1,') and text.endswith("}\n")
    registers = [dac.read_register(ch, reg) for ch in range(4) for reg in (2, 3, 4, 5)]
    outputs = [dac.bench_voltage(n) for n in (1, 2, 3, 4)]
    dac.reset()
    dac.ch_a.range = 10
    dac.ch_b.fine_gain = 0
    dac.coding = "binary"
    dac.open_setup(str(path))
    assert [dac.read_register(ch, reg) for ch in range(4) for reg in (2, 3, 4, 5)] == registers
    assert [dac.bench_voltage(n) for n in (1, 2, 3, 4)] == pytest.approx(outputs, abs=1e-6)
    assert (dac.coding, dac.digital[2].direction) == ("twos-complement", "output")
    # From another board: refused unless asked for.
    path.write_text(text.replace('"SIMULATED"', '"1-4.2"'))
    with pytest.raises(TQ2604XError) as refused:
        dac.open_setup(str(path))
    assert refused.value.code == -221 and "ANYBoard" in refused.value.message
    dac.open_setup(str(path), any_board=True)
    for contents, key in [('{"format": 1, "channels": {"A": {"offset": 999}}}',
                           "channels.A.offset"),
                          ('{"format": 1, "pïns": {}}', "pïns")]:
        path.write_text(contents, encoding="utf-8")
        with pytest.raises(TQ2604XError) as bad:
            dac.open_setup(str(path))
        assert bad.value.code == -224 and key in bad.value.message
