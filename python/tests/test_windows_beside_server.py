"""With windows open beside the server, they show what a client does."""

import os
import re
import socket
import subprocess

from conftest import BINARY


def test_the_main_window_follows_a_client():
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    program = subprocess.Popen([BINARY, "--simulate", "--automation", "--scpi", "0"],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True, env=env)

    def console(command):
        program.stdin.write(command + "\n")
        program.stdin.flush()
        lines = []
        while True:
            line = program.stdout.readline()
            assert line, "the program ended"
            if line.strip() == "ok" or line.startswith("error"):
                return lines + [line.strip()]
            lines.append(line.strip())

    try:
        port = None
        for _ in range(50):
            match = re.search(r"listening on 127\.0\.0\.1:(\d+)", program.stderr.readline())
            if match:
                port = int(match.group(1))
                break
        assert port, "no listening line"
        with socket.create_connection(("127.0.0.1", port), timeout=10) as client:
            answers = client.makefile("r")
            client.sendall(b"SOUR1:VOLT -3;*OPC?\n")
            assert answers.readline().strip() == "1"
            assert console("get MainForm.TextVolts")[0] == "text: -2.9999"
            assert console("get MainForm.TextData")[0] == "text: 599A"
            assert console("get MainForm.StatusRemote")[0] == "text: Remote: 1 client"
            client.sendall(b"SOUR:COD TWOS;*OPC?\n")
            assert answers.readline().strip() == "1"
            assert console("get MainForm.Toggle2")[:2] == ["text: 2sComplement", "visible: 1"]
        assert console("quit") == ["ok"]
        assert program.wait(timeout=10) == 0
    finally:
        if program.poll() is None:
            program.kill()
