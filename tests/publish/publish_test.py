#!/usr/bin/python3
"""--publish against a real broker (Debian's mosquitto on a loopback port of
the test's choosing) on the real clock, with simulated units. A persistent
subscriber collects every message; each is checked against the schema in
dist/mqtt.

  publish_test.py WXR7305 [CASE...]      CASE: see CASES below; default all
  publish_test.py --wine WINE_RUN WXR7305.EXE [CASE...]
                                         the Windows program under wine; default WINE_CASES
  publish_test.py WXR7305 figures        the cost of --publish and the backlog's rate
  publish_test.py WXR7305 memory         a 10,000-unit station's memory with the broker down; the backlog's rate

Exits 77 (skipped) when mosquitto, its clients or python3-paho-mqtt are missing.
"""
import json
import os
import pathlib
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

SKIP = 77
ROOT = pathlib.Path(__file__).resolve().parents[2]
SCHEMA = ROOT / "dist" / "mqtt" / "messages.schema.json"
# Bounds on the real clock: each wait ends, and says what it waited for.
BROKER_START_S = 10
DELIVERY_S = 30
STATION_S = 60

try:
    import jsonschema
    import paho.mqtt.client as mqtt
except ImportError as missing:
    print(f"skipped: {missing}")
    sys.exit(SKIP)
if not shutil.which("mosquitto") and not os.path.exists("/usr/sbin/mosquitto"):
    print("skipped: mosquitto is not installed")
    sys.exit(SKIP)
MOSQUITTO = shutil.which("mosquitto") or "/usr/sbin/mosquitto"

VALIDATOR = jsonschema.Draft202012Validator(json.loads(SCHEMA.read_text()))

# Under wine (--wine WINE_RUN): the Windows program, which is given its paths
# as Z:\... and dies by the test key with TerminateProcess's code, not SIGKILL.
WINE = []
WINE_KILLED_CODE = 9


def program(wxr):
    return WINE + [wxr]


def arg_path(path):
    return "Z:" + str(path).replace("/", "\\") if WINE else str(path)


def killed_code():
    return WINE_KILLED_CODE if WINE else -signal.SIGKILL


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, predicate, seconds=DELIVERY_S):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.05)
    raise AssertionError(f"waited {seconds} s for {what}")


class Broker:
    """A mosquitto of the test's own; persistent, so that a kill keeps the subscriber's session."""

    def __init__(self, work, tls=None, password_file=None, durable=True):
        self.port = free_port()
        self.dir = work / f"broker-{self.port}"
        self.dir.mkdir()
        lines = [f"listener {self.port} 127.0.0.1", "persistence true", f"persistence_location {self.dir}/",
                 "user root", "max_queued_messages 0",
                 f"log_dest file {self.dir}/broker.log"]
        if durable:
            # Saved after each change: a broker killed mid-shift keeps what it acknowledged (all but the last instant).
            lines += ["autosave_interval 1", "autosave_on_changes true"]
        if tls:
            lines += [f"cafile {tls['ca']}", f"certfile {tls['cert']}", f"keyfile {tls['key']}"]
        lines.append(f"password_file {password_file}" if password_file else "allow_anonymous true")
        self.conf = self.dir / "mosquitto.conf"
        self.conf.write_text("\n".join(lines) + "\n")
        self.process = None

    def start(self):
        self.process = subprocess.Popen([MOSQUITTO, "-c", str(self.conf)], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)

        def listening():
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.2).close()
                return True
            except OSError:
                return False
        wait_for("the broker to listen", listening, BROKER_START_S)

    def kill(self):
        self.process.send_signal(signal.SIGKILL)
        self.process.wait()

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=BROKER_START_S)


class Subscriber:
    """A persistent session at QoS 1: it gets what was published while it was away."""

    def __init__(self, broker, topic, name, tls_ca=None, auth=None, persistent=True):
        self.messages = []
        self.lock = threading.Lock()
        self.client = mqtt.Client(client_id=name, clean_session=not persistent)
        if tls_ca:
            self.client.tls_set(ca_certs=str(tls_ca))
        if auth:
            self.client.username_pw_set(*auth)
        self.client.reconnect_delay_set(min_delay=1, max_delay=2)
        self.subscribed = threading.Event()
        self.client.on_connect = lambda c, u, f, rc: c.subscribe(topic + "/#", qos=1)
        self.client.on_subscribe = lambda c, u, mid, qos: self.subscribed.set()
        self.client.on_message = self._message
        self.client.connect_async("127.0.0.1", broker.port)
        self.client.loop_start()

    def _message(self, client, userdata, message):
        with self.lock:
            self.messages.append((message.topic, message.payload.decode(), bool(message.retain)))

    def records(self):
        with self.lock:
            return [json.loads(p) for t, p, r in self.messages if t.endswith("/record")]

    def states(self):
        with self.lock:
            return [(json.loads(p)["state"], r) for t, p, r in self.messages if t.endswith("/state")]

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


def station(wxr, log, broker_port, topic, extra, scheme="mqtt", env=None, wait=True):
    args = program(wxr) + ["upgrade", "--json", "--log", arg_path(log), "--publish", f"{scheme}://127.0.0.1:{broker_port}",
            "--publish-topic", topic] + extra
    process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               env=dict(os.environ, **(env or {})),
                               preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    if not wait:
        return process
    out, err = process.communicate(timeout=STATION_S)
    return process.returncode, out, err


def metrics(port):
    """The station's /metrics as name: value (unlabelled samples)."""
    with urllib.request.urlopen(f"http://127.0.0.1:{port}/metrics", timeout=5) as response:
        lines = response.read().decode().splitlines()
    return {line.split()[0]: float(line.split()[1]) for line in lines if line and not line.startswith("#")
            and "{" not in line}


def page_link(port):
    """The page's line for --publish (status.json), or None."""
    try:
        with urllib.request.urlopen(f"http://127.0.0.1:{port}/status.json", timeout=5) as response:
            link = json.loads(response.read())["station"]["link"]
    except OSError:
        return None
    return link and link["text"]


def log_records(*logs):
    lines = []
    for log in logs:
        lines += [json.loads(line) for line in pathlib.Path(log).read_text().splitlines() if line.strip()]
    return lines


def record_id(record):
    station_part = record.get("station") or f"{record['host']}@{record['station_start']}"
    return f"{station_part}/{record['visit']}/{record['record']}"


def check_valid(messages):
    for message in messages:
        errors = list(VALIDATOR.iter_errors(message))
        assert not errors, f"{message} is not valid: {errors[0].message}"


def check_every_record_once_in_order(sub, *logs):
    expected = log_records(*logs)
    wait_for(f"{len(expected)} records", lambda: len(sub.records()) >= len(expected))
    got = sub.records()
    check_valid(got)
    assert [m["record"] for m in got] == expected, "the records differ from the log's, or their order does"
    assert [m["id"] for m in got] == [record_id(r) for r in expected]


def check_every_record_arrived(sub, *logs):
    """Each record at least once, ids repeated only as whole copies, and the first copies in log order."""
    expected = log_records(*logs)
    ids = [record_id(r) for r in expected]
    assert len(set(ids)) == len(ids), "two records of the log share an id"
    wait_for(f"{len(expected)} distinct records", lambda: len({m["id"] for m in sub.records()}) >= len(ids))
    got = sub.records()
    check_valid(got)
    first = {}
    for message in got:
        if message["id"] in first:
            assert first[message["id"]] == message, f"{message['id']} came again, not the same"
        else:
            first[message["id"]] = message
    assert list(first) == ids, "ids missing or out of order"
    return len(got) - len(ids)


def sim(devices, every_ms=None, count=None):
    spec = f"devices={devices},version=1" + (f",arrive-every={every_ms}" if every_ms else "")
    return (["--watch", "--count", str(count or devices)] if every_ms else ["--all"]) + [f"--simulate={spec}"]


# --- the cases ---

def case_broker_up(wxr, work):
    broker = Broker(work)
    broker.start()
    sub = Subscriber(broker, "t/up", "sub-up")
    log = work / "up.jsonl"
    try:
        code, out, err = station(wxr, log, broker.port, "t/up", sim(5))
        assert code == 0, err
        assert err == "", err
        check_every_record_once_in_order(sub, log)
        wait_for("the offline state", lambda: sub.states()[-1:] == [("offline", False)] or
                 sub.states()[-1:] == [("offline", True)])
        assert [s for s, r in sub.states()] == ["online", "offline"]
        check_valid([json.loads(p) for t, p, r in sub.messages if t.endswith("/state")])
        # Retained: a newcomer is told the station is offline.
        late = Subscriber(broker, "t/up", "late", persistent=False)
        wait_for("the retained state", lambda: late.states() == [("offline", True)], 10)
        late.close()
        # Run again: only the new records go out (the cursor).
        before = len(sub.records())
        code, out, err = station(wxr, log, broker.port, "t/up", sim(2))
        assert code == 0, err
        wait_for("the second run's records", lambda: len(sub.records()) >= before + 4)
        time.sleep(0.5)
        check_every_record_once_in_order(sub, log)
    finally:
        sub.close()
        broker.stop()


def case_refusals(wxr, work):
    """--publish is refused without --log, with a bad URL, or with an unreadable password file."""
    for args, says in [(["--publish", "mqtt://127.0.0.1"], "--publish needs --log"),
                       (["--log", arg_path(work / "r.jsonl"), "--publish", "http://x"], "mqtt://HOST"),
                       (["--log", arg_path(work / "r.jsonl"), "--publish", "mqtt://h:0"], "port"),
                       (["--publish-topic", "a"], "need --publish"),
                       (["--log", arg_path(work / "r.jsonl"), "--publish", "mqtt://127.0.0.1",
                         "--publish-auth", arg_path(work / "none")], "--publish-auth")]:
        result = subprocess.run(program(wxr) + ["upgrade", "--all", "--simulate"] + args, capture_output=True, text=True,
                                timeout=STATION_S)
        assert result.returncode == 1, (args, result.returncode)
        assert says in result.stderr, (args, result.stderr)


# The broker's outages: down for the first LATE_DOWN_S of a shift; killed
# KILLED_AT_S into one and started again KILLED_FOR_S later.
LATE_DOWN_S = 20
KILLED_AT_S = 3
KILLED_FOR_S = 10
# Simulated units arrive one per second: the shifts outlast the outages by
# more than the publisher's longest wait between tries (5 s).
UNIT_EVERY_MS = 1000
# What a closed port is called: by the C library, or by Winsock.
REFUSED_TEXT = {False: "Connection refused", True: "The connection was lost"}
LATE_UNITS = LATE_DOWN_S + 12
KILLED_UNITS = KILLED_AT_S + KILLED_FOR_S + 8


def case_broker_late(wxr, work):
    """Down when the station starts, up 20 s later: units are written at full speed meanwhile, every record
    arrives, and the page says how long records have waited and why."""
    broker = Broker(work)
    log = work / "late.jsonl"
    # The subscriber's session exists before the station publishes.
    broker.start()
    sub = Subscriber(broker, "t/late", "sub-late")
    wait_for("the subscription", sub.subscribed.is_set, 10)
    broker.stop()  # saves the subscriber's session
    try:
        began = time.monotonic()
        page = free_port()
        process = station(wxr, log, broker.port, "t/late", sim(LATE_UNITS, every_ms=UNIT_EVERY_MS) +
                          ["--serve", str(page)], wait=False)
        time.sleep(LATE_DOWN_S)
        written_meanwhile = sum(1 for r in log_records(log) if r["record"] == "result")
        down = metrics(page)
        line = page_link(page)
        assert down["wxr7305_publish_connected"] == 0 and down["wxr7305_records_unpublished"] >= 2, down
        assert line.startswith("not sent for ") and line.endswith(": broker unreachable"), line
        broker.start()
        wait_for("the link on /metrics", lambda: metrics(page)["wxr7305_publish_connected"] == 1, 15)
        wait_for("the page's line", lambda: page_link(page) == "records sent", 10)
        out, err = process.communicate(timeout=STATION_S)
        took = time.monotonic() - began
        assert process.returncode == 0, err
        assert REFUSED_TEXT[bool(WINE)] in err, err
        # Full speed: at least half the units that arrived meanwhile (the bound is loose: a shared machine).
        arrived = LATE_DOWN_S * 1000 // UNIT_EVERY_MS
        assert written_meanwhile >= arrived // 2, f"{written_meanwhile} units written in {LATE_DOWN_S} s"
        results = [r for r in log_records(log) if r["record"] == "result"]
        assert len(results) == LATE_UNITS and all(r["result"] == "success" for r in results)
        check_every_record_once_in_order(sub, log)
        print(f"  broker down for {LATE_DOWN_S} s: {written_meanwhile} of the {arrived} units that arrived meanwhile"
              f" written; the page said '{line}'; the station took {took:.1f} s for {LATE_UNITS} units arriving"
              f" every {UNIT_EVERY_MS / 1000:g} s")
    finally:
        sub.close()
        broker.stop()


def case_broker_killed(wxr, work):
    """SIGKILL to the broker mid-shift, started again 10 s later: no id missing."""
    broker = Broker(work)
    broker.start()
    sub = Subscriber(broker, "t/kill", "sub-kill")
    log = work / "kill.jsonl"
    try:
        process = station(wxr, log, broker.port, "t/kill", sim(KILLED_UNITS, every_ms=UNIT_EVERY_MS), wait=False)
        time.sleep(KILLED_AT_S)
        broker.kill()
        time.sleep(KILLED_FOR_S)
        written_meanwhile = sum(1 for r in log_records(log) if r["record"] == "result")
        broker.start()
        out, err = process.communicate(timeout=STATION_S)
        assert process.returncode == 0, err
        again = check_every_record_arrived(sub, log)
        print(f"  broker killed after {KILLED_AT_S} s and restarted {KILLED_FOR_S} s later ({written_meanwhile} units"
              f" written by then): every record arrived, {again} sent twice")
    finally:
        sub.close()
        broker.stop()


def case_station_killed(wxr, work):
    """The station dies (SIGKILL) after acknowledgements, before its cursor write; its restart repeats only those."""
    broker = Broker(work)
    broker.start()
    sub = Subscriber(broker, "t/crash", "sub-crash")
    log = work / "crash.jsonl"
    try:
        code, out, err = station(wxr, log, broker.port, "t/crash", sim(5),
                                 env={"WXR7305_TEST_PUBLISH_DIE_BEFORE_CURSOR": "3"})
        assert code == killed_code(), (code, err)
        wait_for("the records acknowledged before the kill", lambda: len(sub.records()) >= 3)
        time.sleep(0.5)
        before = {m["id"] for m in sub.records()}
        code, out, err = station(wxr, log, broker.port, "t/crash", sim(1))
        assert code == 0, err
        again = check_every_record_arrived(sub, log)
        seen = [m["id"] for m in sub.records()]
        repeated = {i for i in seen if seen.count(i) > 1}
        assert again >= 1, "the kill came before any acknowledgement the cursor missed"
        assert repeated <= before, f"{repeated - before} repeated though not sent before the kill"
        print(f"  station killed before its cursor write: {again} records sent again, each with an id seen before")
    finally:
        sub.close()
        broker.stop()


def case_rotated(wxr, work):
    """The log renamed mid-shift (logrotate) while the broker is down: both files arrive, the rotated one first."""
    broker = Broker(work)
    broker.start()
    sub = Subscriber(broker, "t/rot", "sub-rot")
    wait_for("the subscription", sub.subscribed.is_set, 10)
    broker.stop()  # saves the subscriber's session
    log, rotated = work / "rot.jsonl", work / "rot.jsonl.1"
    try:
        process = station(wxr, log, broker.port, "t/rot", sim(6, every_ms=400), wait=False)
        # Mid-shift: once its first records are written (wine takes a while to start a program).
        wait_for("the first records", lambda: log.exists() and log.read_text().count("\n") >= 2, 10)
        log.rename(rotated)  # the station goes on writing into it
        out, err = process.communicate(timeout=STATION_S)
        assert process.returncode == 0, err
        assert not log.exists()
        broker.start()
        # The restart logrotate asks for: a new log beside the rotated one.
        code, out, err = station(wxr, log, broker.port, "t/rot", sim(2))
        assert code == 0, err
        check_every_record_once_in_order(sub, rotated, log)
        print(f"  rotated: {len(log_records(rotated))} + {len(log_records(log))} records, in order")
    finally:
        sub.close()
        broker.stop()


def case_reopened(wxr, work):
    """The log renamed mid-shift and SIGUSR1 (logrotate's postrotate): without a restart the station
    writes on into a new log, and every record of both files arrives once, in order."""
    broker = Broker(work)
    broker.start()
    sub = Subscriber(broker, "t/reo", "sub-reo")
    wait_for("the subscription", sub.subscribed.is_set, 10)
    log, rotated = work / "reo.jsonl", work / "reo.jsonl.1"
    try:
        process = station(wxr, log, broker.port, "t/reo", sim(6, every_ms=400), wait=False)
        time.sleep(1.2)
        log.rename(rotated)
        process.send_signal(signal.SIGUSR1)
        out, err = process.communicate(timeout=STATION_S)
        assert process.returncode == 0, err
        assert log_records(rotated) and log_records(log), "both files hold records"
        check_every_record_once_in_order(sub, rotated, log)
        print(f"  reopened: {len(log_records(rotated))} + {len(log_records(log))} records, in order")
    finally:
        sub.close()
        broker.stop()


def make_tls(work):
    """A test CA and a broker certificate for 127.0.0.1; a second CA that signed nothing."""
    tls = work / "tls"
    tls.mkdir()

    def run(*args):
        subprocess.run(["openssl", *args], cwd=tls, check=True, capture_output=True, timeout=60)
    for ca in ("ca", "other-ca"):
        run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{ca}.key", "-out", f"{ca}.pem",
            "-days", "2", "-subj", f"/CN=wxr7305 test {ca}")
    run("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "broker.key", "-out", "broker.csr",
        "-subj", "/CN=127.0.0.1")
    (tls / "san.ext").write_text("subjectAltName=IP:127.0.0.1\n")
    run("x509", "-req", "-in", "broker.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
        "-out", "broker.pem", "-days", "2", "-extfile", "san.ext")
    return {"ca": tls / "ca.pem", "other": tls / "other-ca.pem", "cert": tls / "broker.pem",
            "key": tls / "broker.key"}


def case_tls(wxr, work):
    """TLS with a test CA and a password file; a wrong password or an unknown CA: a clear message, units written."""
    if not shutil.which("openssl") or not shutil.which("mosquitto_passwd"):
        print("  skipped: openssl or mosquitto_passwd missing")
        return
    tls = make_tls(work)
    passwords = work / "passwords"
    subprocess.run(["mosquitto_passwd", "-c", "-b", str(passwords), "station", "s3cret"], check=True,
                   capture_output=True, timeout=30)
    broker = Broker(work, tls=tls, password_file=passwords)
    broker.start()
    sub = Subscriber(broker, "t/tls", "sub-tls", tls_ca=tls["ca"], auth=("station", "s3cret"))
    good, bad = work / "auth", work / "bad-auth"
    good.write_text("station\ns3cret\n")
    bad.write_text("station\nwrong\n")
    try:
        log = work / "tls.jsonl"
        code, out, err = station(wxr, log, broker.port, "t/tls",
                                 sim(3) + ["--publish-ca", str(tls["ca"]), "--publish-auth", str(good)], "mqtts")
        assert code == 0 and err == "", err
        check_every_record_once_in_order(sub, log)
        for name, extra, says, page_says in [
                ("wrong password", ["--publish-ca", str(tls["ca"]), "--publish-auth", str(bad)], "not authorised",
                 "broker refused (auth)"),
                ("unknown CA", ["--publish-ca", str(tls["other"]), "--publish-auth", str(good)],
                 "certificate verify failed", "TLS failure")]:
            other = work / f"tls-{name.replace(' ', '-')}.jsonl"
            page = free_port()
            process = station(wxr, other, broker.port, "t/tls-bad",
                              sim(3, every_ms=600) + extra + ["--serve", str(page)], "mqtts", wait=False)
            lines = set()
            while process.poll() is None:
                lines.add(page_link(page))
                time.sleep(0.1)
            out, err = process.communicate(timeout=STATION_S)
            code = process.returncode
            assert code == 0, err
            assert says in err, f"{name}: {err!r}"
            assert any(line and line.endswith(": " + page_says) for line in lines), f"{name}: the page said {lines}"
            assert err.count("\n") <= 2, f"{name}: the message repeats: {err!r}"
            results = [r for r in log_records(other) if r["record"] == "result"]
            assert len(results) == 3 and all(r["result"] == "success" for r in results), name
            said = [line for line in err.splitlines() if "publish:" in line]
            print(f"  {name}: {said}; the page: {sorted(line for line in lines if line)}")
    finally:
        sub.close()
        broker.stop()


def case_no_tls(wxr, work):
    """A build without TLS (the Windows one) refuses mqtts:// and --publish-ca at start, not by retrying."""
    log = arg_path(work / "n.jsonl")
    for args in [["--publish", "mqtts://127.0.0.1"],
                 ["--publish", "mqtt://127.0.0.1", "--publish-ca", arg_path(work / "ca.pem")]]:
        result = subprocess.run(program(wxr) + ["upgrade", "--all", "--simulate", "--log", log] + args,
                                capture_output=True, text=True, timeout=STATION_S)
        assert result.returncode == 1, (args, result.returncode, result.stderr)
        assert "has no TLS" in result.stderr, (args, result.stderr)


def peak_memory_kb(process):
    for line in pathlib.Path(f"/proc/{process.pid}/status").read_text().splitlines():
        if line.startswith("VmHWM:"):
            return int(line.split()[1])
    return -1


def short_sent(log):
    cursor = pathlib.Path(str(log) + ".sent")
    return cursor.exists() and cursor.read_text().split()[0] == str(log.stat().st_size)


def figures(wxr, work):
    """--all over 20 simulated units with and without --publish; the backlog's delivery rate."""
    broker = Broker(work, durable=False)  # saving on each message would measure the broker's disk
    broker.start()
    sub = Subscriber(broker, "t/fig", "sub-fig")
    try:
        times = {}
        for label, publish in [("without", False), ("with", True)] * 5:
            log = work / f"fig-{label}.jsonl"
            args = [wxr, "upgrade", "--all", "--simulate=devices=20,version=1", "--json", "--log", str(log)]
            if publish:
                args += ["--publish", f"mqtt://127.0.0.1:{broker.port}", "--publish-topic", "t/fig"]
            began = time.monotonic()
            subprocess.run(args, check=True, capture_output=True, timeout=STATION_S)
            times.setdefault(label, []).append(time.monotonic() - began)
        for name, pick in [("fastest", min), ("median", lambda v: sorted(v)[len(v) // 2])]:
            best = {k: pick(v) for k, v in times.items()}
            print(f"--all over 20 simulated units, {name} of 5: {best['without']:.3f} s without --publish, "
                  f"{best['with']:.3f} s with ({best['with'] / best['without']:.3f}x)")
        # A backlog: the records of a long shift, waiting in the log.
        line = (work / "fig-with.jsonl").read_text().splitlines()[0]
        record = json.loads(line)
        backlog = work / "backlog.jsonl"
        total = 50000
        with backlog.open("w") as out:
            for visit in range(1, total + 1):
                record["visit"] = visit
                out.write(json.dumps(record, separators=(",", ":")) + "\n")
        # Counted by mosquitto_sub (the Python subscriber would be what is measured).
        counter = subprocess.Popen(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(broker.port), "-q", "1",
                                    "-t", "t/backlog/record", "-C", str(total)], stdout=subprocess.DEVNULL)
        time.sleep(0.5)
        began = time.monotonic()
        process = station(wxr, backlog, broker.port, "t/backlog",
                          ["--watch", "--simulate=devices=1,arrive-at=600000"], wait=False)
        counter.wait(timeout=120)
        took = time.monotonic() - began
        peak_full = peak_memory_kb(process)
        process.send_signal(signal.SIGINT)
        process.communicate(timeout=STATION_S)
        # The same station with a short log: what the spool's length costs in memory.
        short = work / "short.jsonl"
        short.write_text("\n".join(backlog.read_text().splitlines()[:500]) + "\n")
        process = station(wxr, short, broker.port, "t/short", ["--watch", "--simulate=devices=1,arrive-at=600000"],
                          wait=False)
        wait_for("the short log sent", lambda: short_sent(short), 60)
        peak_short = peak_memory_kb(process)
        process.send_signal(signal.SIGINT)
        process.communicate(timeout=STATION_S)
        print(f"peak memory: {peak_short} KB sending a log of 500 records, {peak_full} KB one of {total}")
        print(f"backlog of {total} records delivered in {took:.2f} s: {total / took:.0f} records/s")
    finally:
        sub.close()
        broker.stop()


# A day of a station on the virtual clock, its broker down throughout.
MEMORY_UNITS = 10000
MEMORY_EARLY = 500
MEMORY_SIMULATION = f"--simulate=devices={MEMORY_UNITS},version=50,arrive-every=2000,leave-after=4000"
# Generous: the figure's target is 1.2; twice the memory is a backlog held in it.
MEMORY_RATIO_BOUND = 2.0
MEMORY_STATION_S = 600


def memory(wxr, work):
    """--watch --count 10000 --virtual-time with --publish to a broker down throughout: the peak memory after 500
    units and after 10,000 (the backlog waits in the log, not in memory); then the broker comes up and a restarted
    station delivers the backlog: its rate."""
    broker = Broker(work, durable=False)  # not started yet
    log = work / "memory.jsonl"
    began = time.monotonic()
    with (work / "memory.err").open("w") as err:
        process = subprocess.Popen([wxr, "upgrade", "--watch", "--count", str(MEMORY_UNITS), "--virtual-time",
                                    "--json", "--log", str(log), "--publish", f"mqtt://127.0.0.1:{broker.port}",
                                    "--publish-topic", "t/mem", MEMORY_SIMULATION],
                                   stdout=subprocess.PIPE, stderr=err, text=True)
        # The peak (VmHWM) as each result comes: the kernel's figure for the
        # child (wait4) would count the test's own memory, forked before the exec.
        units, early, late = 0, None, None
        for line in process.stdout:
            if line.startswith('{"image"'):
                units += 1
                late = max(late or 0, peak_memory_kb(process))  # -1 once it has ended
                if units == MEMORY_EARLY:
                    early = late
        process.wait(timeout=STATION_S)
    took = time.monotonic() - began
    assert process.returncode == 0, (work / "memory.err").read_text()
    assert units == MEMORY_UNITS and early, units
    ratio = late / early
    records = len(log.read_text().splitlines())
    print(f"broker down throughout, {MEMORY_UNITS:,} units in {took:.1f} s: peak RSS {early:,} KB after"
          f" {MEMORY_EARLY} units, {late:,} KB after {MEMORY_UNITS:,}: {MEMORY_UNITS:,} / {MEMORY_EARLY}"
          f" units {ratio:.3f} (target <= 1.2); {records:,} records waiting in the log")
    assert ratio <= MEMORY_RATIO_BOUND, f"memory grew {ratio:.2f}x with the backlog"
    broker.start()
    try:
        # Counted by mosquitto_sub (the Python subscriber would be what is measured).
        counter = subprocess.Popen(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(broker.port), "-q", "1",
                                    "-t", "t/mem/record", "-C", str(records)], stdout=subprocess.DEVNULL)
        time.sleep(0.5)
        began = time.monotonic()
        process = station(wxr, log, broker.port, "t/mem", ["--watch", "--simulate=devices=1,arrive-at=600000"],
                          wait=False)
        counter.wait(timeout=MEMORY_STATION_S)
        took = time.monotonic() - began
        process.send_signal(signal.SIGINT)
        process.communicate(timeout=STATION_S)
        print(f"the broker up: a backlog of {records:,} records delivered in {took:.2f} s:"
              f" {records / took:,.0f} records/s")
    finally:
        broker.stop()


CASES = {
    "broker_up": case_broker_up,
    "refusals": case_refusals,
    "broker_late": case_broker_late,
    "broker_killed": case_broker_killed,
    "station_killed": case_station_killed,
    "rotated": case_rotated,
    "reopened": case_reopened,
    "tls": case_tls,
}
# For a build without TLS only.
WITHOUT_TLS = {"no_tls": case_no_tls}
# Under wine: the same, but for TLS, which that build lacks.
WINE_CASES = ["broker_up", "refusals", "broker_late", "broker_killed", "station_killed", "rotated", "no_tls"]


def main():
    args = sys.argv[1:]
    if args[:1] == ["--wine"]:
        WINE.append(args[1])
        args = args[2:]
    wxr = args[0]
    wanted = args[1:] or (WINE_CASES if WINE else list(CASES))
    failed = 0
    for name in wanted:
        work = pathlib.Path(tempfile.mkdtemp(prefix=f"publish-{name}-"))
        began = time.monotonic()
        try:
            {"figures": figures, "memory": memory, **WITHOUT_TLS}.get(name, CASES.get(name))(wxr, work)
            print(f"ok    {name} ({time.monotonic() - began:.1f} s)")
            shutil.rmtree(work, ignore_errors=True)
        except Exception as error:  # each case on its own: the others still run
            failed += 1
            print(f"FAIL  {name}: {error!r} (files kept in {work})")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
