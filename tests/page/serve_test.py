#!/usr/bin/python3
"""wxr7305 upgrade --serve against real clients, on simulated benches and the real clock:
  serve_test.py browser PROGRAM SHOTS [RUNNER]  Chromium reads the page over a 12-unit bench
  serve_test.py prometheus PROGRAM              Prometheus scrapes a station; its counts = the summary
  serve_test.py hostile PROGRAM                 hostile clients while units are written
  serve_test.py ranges PROGRAM RUNNER           100 requests with 7 KB Range headers (the Windows .exe under wine)
RUNNER runs PROGRAM (tools/wine-run for the Windows .exe). Exits 77 when a tool is missing.
Every wait has a bound; the bounds are for liveness, not speed."""
import calendar, json, os, queue, re, shutil, signal, socket, subprocess, sys, tempfile, threading, time, urllib.request

LONG = 90  # seconds: a bound on anything the station or a tool has to do


def skip(why):
    print("SKIP: " + why)
    sys.exit(77)


def until(what, check, bound=LONG, pause=0.05):
    end = time.monotonic() + bound
    while time.monotonic() < end:
        value = check()
        if value:
            return value
        time.sleep(pause)
    raise AssertionError("gave up waiting for " + what)


class Station:
    """wxr7305 upgrade --watch --json --serve on a free port, its output read as it comes."""

    def __init__(self, program, args, runner=None, serve="127.0.0.1:0", cgroup=None):
        cmd = ([runner] if runner else []) + [program, "upgrade", "--watch", "--json", "--serve", serve] + args
        join = cgroup and (lambda: open(os.path.join(cgroup, "cgroup.procs"), "w").write(str(os.getpid())))
        self.proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, preexec_fn=join)
        self.lines, self.err = [], queue.Queue()
        threading.Thread(target=lambda: [self.lines.append(line) for line in self.proc.stdout], daemon=True).start()
        threading.Thread(target=lambda: [self.err.put(line) for line in self.proc.stderr], daemon=True).start()
        self.url = until("the page's address", self._address)

    def _address(self):
        try:
            found = re.search(r"page is at (http://\S+/)", self.err.get(timeout=1))
            return found and found.group(1)
        except queue.Empty:
            assert self.proc.poll() is None, "the station ended before it served"

    def objects(self):
        return [json.loads(line) for line in list(self.lines) if line.startswith("{")]

    def results(self):
        return [o for o in self.objects() if "result" in o]

    def end(self, interrupt=False):
        if interrupt:
            self.proc.send_signal(signal.SIGINT)
        code = self.proc.wait(LONG)
        time.sleep(0.2)  # the readers take the last lines
        return code


def get(url, host=None):
    request = urllib.request.Request(url, headers={"Host": host} if host else {})
    with urllib.request.urlopen(request, timeout=LONG) as reply:
        return reply.status, reply.read().decode()


# --- Chromium over a scripted bench ---------------------------------------------------------

# Port I+1 holds unit I. Group A is there at the start, B comes at 7 s, C at 14 s; writes take
# about 1.6 s. The unplugged unit fails at about 60 % of its write, the silent-after one at 50 %.
BENCH = ("devices=12,busy=0,version=50,0:serial=SN-A01,0:leave-after=5000,2:model=17,3:version=57,"
         + ",".join(f"{i}:arrive-at=7000" for i in range(4, 8)) + ",5:unplug-after=5000,6:silent,"
         + ",".join(f"{i}:arrive-at=14000" for i in range(8, 12)) + ",8:silent-after=4000")
CODES = {"E": "empty", "P": "probing", "W": "writing", "S": "success", "F": "failed", "R": "refused", "K": "skipped"}
WORDS = {"empty": "EMPTY", "probing": "PROBING", "writing": "WRITING", "success": "SUCCESS", "failed": "FAILED",
         "refused": "REFUSED", "skipped": "SKIPPED"}
# name, condition on the page, tiles of ports 1-12, totals (written, failed, refused, skipped)
MOMENTS = [
    ("A writing", lambda p: p.writing(1, 10, 60) and p.state(2) == "writing", "WWRKEEEEEEEE", (0, 0, 1, 1)),
    ("A written", lambda p: p.state(1) == p.state(2) == "success", "SSRKEEEEEEEE", (2, 0, 1, 1)),
    ("unit 1 taken away", lambda p: p.state(1) == "empty" and p.state(5) == "empty", "ESRKEEEEEEEE", (2, 0, 1, 1)),
    ("B writing", lambda p: p.writing(5, 10, 50) and p.state(6) == p.state(8) == "writing", "ESRKWWPWEEEE",
     (2, 0, 1, 1)),
    ("B done", lambda p: p.state(7) == "failed" and p.state(5) == p.state(8) == "success" and p.state(9) == "empty",
     "ESRKSEFSEEEE", (4, 2, 1, 1)),
    ("C writing", lambda p: p.writing(10, 10, 45) and p.state(9) == p.state(11) == p.state(12) == "writing",
     "ESRKSEFSWWWW", (4, 2, 1, 1)),
    ("after the run", lambda p: p.station == "ended", "ESRKSEFSFSSS", (7, 3, 1, 1)),
]
READ_PAGE = """
const text = (node, css) => { const n = node.querySelector(css); return n ? n.textContent : ''; };
return {
  station: text(document, '#station-state'),
  totals: ['written', 'failed', 'refused', 'skipped'].map((k) => +text(document, '#total-' + k)),
  firmware: text(document, '#firmware'),
  link: text(document, '#link-banner'),
  tiles: [...document.querySelectorAll('.tile')].map((t) => ({port: t.dataset.port, state: t.dataset.state,
    word: text(t, '.word'), symbol: text(t, '.symbol'), facts: text(t, '.facts'), why: text(t, '.why'),
    last: text(t, '.last')})),
  results: [...document.querySelectorAll('#results tr')].map((r) => [...r.cells].map((c) => c.textContent)),
};"""


class Page:
    def __init__(self, read):
        self.__dict__.update(read)

    def tile(self, port):
        return self.tiles[port - 1] if len(self.tiles) >= port else {"state": "", "word": ""}

    def state(self, port):
        return self.tile(port)["state"]

    def writing(self, port, low, high):
        found = re.match(r"WRITING (\d+) %", self.tile(port)["word"])
        return found and low <= int(found.group(1)) <= high


def check_moment(page, name, tiles, totals):
    problems = []
    if [t["port"] for t in page.tiles] != [f"Port {i}" for i in range(1, 13)]:
        problems.append("ports " + str([t["port"] for t in page.tiles]))
    for port, (code, tile) in enumerate(zip(tiles, page.tiles), 1):
        want = CODES[code]
        if tile["state"] != want or not tile["word"].startswith(WORDS[want]) or not tile["symbol"]:
            problems.append(f"Port {port}: {tile['state']} '{tile['symbol']} {tile['word']}', expected {want}")
    if tuple(page.totals) != totals:
        problems.append(f"totals {page.totals}, expected {totals}")
    if "TQ16" not in page.firmware or "version 57" not in page.firmware:
        problems.append("firmware " + page.firmware)
    assert not problems, name + ": " + "; ".join(problems)


def check_details(page):
    tile = {t["port"]: t for t in page.tiles}
    assert "answer" in tile["Port 7"]["why"], "the silent unit's tile: " + str(tile["Port 7"])
    assert "block" in tile["Port 9"]["why"] and "answer" in tile["Port 9"]["why"], str(tile["Port 9"])
    assert "SN-A01" in tile["Port 1"]["last"] and "success" in tile["Port 1"]["last"], str(tile["Port 1"])
    assert "failed" in tile["Port 6"]["last"], "the unplugged unit's port: " + str(tile["Port 6"])
    assert tile["Port 6"]["why"], "the unplugged unit's reason, kept on its empty port: " + str(tile["Port 6"])
    assert "17" in tile["Port 3"]["facts"], "the refused unit's model: " + str(tile["Port 3"])
    assert len(page.results) == 12 and page.results[0][1] in ("Port 9", "Port 10", "Port 11", "Port 12"), page.results


def browser(program, shots, runner=None):
    for tool in ("/usr/bin/chromium", "/usr/bin/chromedriver"):
        if not os.path.exists(tool):
            skip(tool + " is missing (tools/install-deps test)")
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        skip("python3-selenium is missing (tools/install-deps test)")
    options = webdriver.ChromeOptions()
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--window-size=1280,1100"):
        options.add_argument(flag)
    os.makedirs(shots, exist_ok=True)
    names = os.path.join(shots, "ports.txt")
    with open(names, "w") as f:
        f.write("# the bench, left to right\n" + "".join(f"sim-usb-1.{i} = Port {i}\n" for i in range(1, 13)))
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    read = lambda: Page(driver.execute_script(READ_PAGE))
    try:
        station = Station(program, ["--simulate=" + BENCH, "--port-names", names], runner)
        driver.get(station.url)
        for name, condition, tiles, totals in MOMENTS:
            page = until(name, lambda: (lambda p: condition(p) and p)(read()), pause=0.02)
            check_moment(page, name, tiles, totals)
            print(f"{name}: {page.station}, totals {page.totals}, tiles {tiles}")
            if name == "C writing":
                driver.save_screenshot(os.path.join(shots, "bench-page-mid-run.png"))
        assert station.end() == 4, "exit code"
        # The program has gone: the page keeps its last state and says so.
        page = until("the page's word that the station ended", lambda: (lambda p: "ended" in p.link and p)(read()))
        check_moment(page, "after the program ended", MOMENTS[-1][2], MOMENTS[-1][3])
        check_details(page)
        driver.save_screenshot(os.path.join(shots, "bench-page-after-run.png"))
        for kind in ("deuteranopia", "achromatopsia"):
            driver.execute_cdp_cmd("Emulation.setEmulatedVisionDeficiency", {"type": kind})
            driver.save_screenshot(os.path.join(shots, f"bench-page-after-run-{kind}.png"))
    finally:
        driver.quit()


# --- Prometheus -----------------------------------------------------------------------------

# One unit of each result; the last comes only after ten minutes, so the station stays up.
SCRAPED = ("devices=8,busy=0,version=50,1:model=17,2:version=57,3:silent,4:unplug-after=3000,"
           "5:serial=P5,6:arrive-at=3000,7:arrive-at=600000")
SUMMARY_KEYS = {"success": "success", "failed": "failed", "refused": "refused", "skipped": "skipped",
                "no_answer": "no-answer", "not_written": "not-written"}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def prometheus(program):
    if not shutil.which("prometheus"):
        skip("prometheus is missing (tools/install-deps test)")
    station = Station(program, ["--simulate=" + SCRAPED])
    target = station.url.split("//")[1].rstrip("/")
    with tempfile.TemporaryDirectory() as tmp:
        with open(os.path.join(tmp, "prometheus.yml"), "w") as f:
            f.write(f"scrape_configs:\n  - job_name: wxr7305\n    scrape_interval: 1s\n"
                    f"    static_configs:\n      - targets: ['{target}']\n")
        api = f"http://127.0.0.1:{free_port()}/api/v1/"
        server = subprocess.Popen(["prometheus", "--config.file=" + os.path.join(tmp, "prometheus.yml"),
                                   "--storage.tsdb.path=" + os.path.join(tmp, "data"),
                                   "--web.listen-address=" + api.split("/")[2]],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            until("seven results", lambda: len(station.results()) == 7)
            done = time.time()

            def scraped_after():
                targets = json.loads(get(api + "targets")[1])["data"]["activeTargets"]
                return targets and targets[0]["health"] == "up" and \
                    calendar.timegm(time.strptime(targets[0]["lastScrape"][:19], "%Y-%m-%dT%H:%M:%S")) > done

            until("a scrape after the last result", lambda: _quiet(scraped_after), pause=0.5)
            assert station.end(interrupt=True) == 4, "exit code"
            summary = station.objects()[-1]["summary"]
            query = json.loads(get(api + "query?query=sum%20by%20(result)%20(wxr7305_units_total)")[1])
            counts = {r["metric"]["result"]: int(r["value"][1]) for r in query["data"]["result"]}
            for key, result in SUMMARY_KEYS.items():
                assert counts.get(result, 0) == summary[key], f"{result}: {counts} against {summary}"
            writes = json.loads(get(api + "query?query=wxr7305_upgrade_seconds_count")[1])["data"]["result"]
            assert int(writes[0]["value"][1]) == summary["success"], f"histogram: {writes}"
            print("Prometheus counts by result:", counts, "= the summary", summary)
        finally:
            server.terminate()
            server.wait(LONG)


def _quiet(check):
    try:
        return check()
    except (OSError, ValueError, KeyError):
        return False


# --- Hostile clients ------------------------------------------------------------------------

# Eight units in pairs 2 s apart; a ninth comes only after ten minutes, so the station stays up.
HOSTILE_BENCH = "devices=9,busy=0,version=50," + ",".join(f"{i}:arrive-at={i // 2 * 2000}" for i in range(8)) + \
    ",8:arrive-at=600000"


def exchange(port, data):
    """What the server answers to data (and whether it closes), within the bound."""
    with socket.create_connection(("127.0.0.1", port), timeout=LONG) as s:
        try:
            s.sendall(data)
        except (BrokenPipeError, ConnectionResetError):
            pass  # refused before all was sent: its answer may still be there to read
        reply = b""
        while True:
            try:
                chunk = s.recv(65536)
            except ConnectionResetError:
                return reply + b"<reset>"
            if not chunk:
                return reply
            reply += chunk


def dropped(s):
    try:
        return s.recv(1) == b""
    except ConnectionResetError:
        return True


# The station's peak resident memory under every attack below. A sanitized
# build keeps shadow memory and freed blocks of its own: its bound is its own
# (the build sets WXR7305_PEAK_RSS_MB), the attacks' bounds still show.
PEAK_RSS_MB = int(os.environ.get("WXR7305_PEAK_RSS_MB", "64"))
SLOW_CLIENTS, STALLED_STREAMS, RANGE_REQUESTS = 100, 64, 60
EVENT_RETRY = 2.0  # the page's "retry: 2000"
CGROUP_BYTES = 300 << 20


def peak_rss_mb(pid):
    with open(f"/proc/{pid}/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmHWM:")) / 1024


def memory_cgroup():
    """A memory cgroup of 300 MB for the station (root only; v2 or v1), else None."""
    for base, limit in (("/sys/fs/cgroup", "memory.max"), ("/sys/fs/cgroup/memory", "memory.limit_in_bytes")):
        path = os.path.join(base, f"wxr7305-hostile-{os.getpid()}")
        try:
            os.mkdir(path)
        except OSError:
            continue
        if not os.path.exists(os.path.join(path, "cgroup.procs")):  # a plain folder, not a cgroup tree
            os.rmdir(path)
            continue
        try:
            with open(os.path.join(path, limit), "w") as f:
                f.write(str(CGROUP_BYTES))
            return path
        except OSError:
            os.rmdir(path)
    return None


def request(host, path, extra=b""):
    return b"GET " + path + b" HTTP/1.1\r\nHost: " + host + b"\r\n" + extra + b"\r\n"


def header_flood(port, host):
    """Short headers on one connection until 256 MB are sent or the server closes it: the bytes taken."""
    lines, sent = b"X: y\r\n" * 10000, 0
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        try:
            s.sendall(b"GET / HTTP/1.1\r\nHost: " + host + b"\r\n")
            while sent < 256 << 20:
                s.sendall(lines)
                sent += len(lines)
        except OSError:
            pass
    return sent


def ranges(port, host, size, count):
    """count requests of the page's script with a Range header of about size bytes: the statuses and bytes back."""
    header = b"Range: bytes=0-" + b",0-" * ((size - 15) // 3) + b"\r\n"
    replies = [exchange(port, request(host, b"/page.js", header)) for _ in range(count)]
    assert not any(b"multipart" in r for r in replies), "a multi-range answer"
    return {r[9:12] for r in replies}, sum(len(r) for r in replies)


class Crowd:
    """Slow clients (a byte every 1.5 s, again when dropped) and event streams that stop reading."""

    def __init__(self, port, host, slow, stalled):
        self.stop, self.dropped_streams = threading.Event(), 0
        self.threads = [threading.Thread(target=self._slow, args=(port, host), daemon=True) for _ in range(slow)]
        for t in self.threads:
            t.start()
        self.streams = []
        for _ in range(stalled):
            s = socket.socket()
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)  # full after a few events
            s.connect(("127.0.0.1", port))
            s.sendall(request(host, b"/events"))
            self.streams.append(s)

    def _slow(self, port, host):
        data = request(host, b"/status.json")
        while not self.stop.is_set():
            try:
                with socket.create_connection(("127.0.0.1", port), timeout=LONG) as s:
                    for byte in data:
                        if self.stop.wait(1.5):
                            return
                        s.sendall(bytes([byte]))
            except OSError:
                pass

    def end(self):
        self.stop.set()
        for s in self.streams:
            s.close()


def new_viewer(port, host):
    """A browser's first visit: the page, its files and the status at once, then the events. Seconds to each."""
    start = time.monotonic()
    pages = [threading.Thread(target=exchange, args=(port, request(host, p))) for p in (b"/", b"/page.css", b"/page.js")]
    for t in pages:
        t.start()
    status = exchange(port, request(host, b"/status.json"))
    assert status[9:12] == b"200", status[:40]
    tiles = time.monotonic() - start
    with socket.create_connection(("127.0.0.1", port), timeout=LONG) as s:
        s.sendall(request(host, b"/events"))
        got = b""
        while b"data: " not in got:
            chunk = s.recv(65536)
            assert chunk, "the new viewer's stream ended"
            got += chunk
    for t in pages:
        t.join(LONG)
    return tiles, time.monotonic() - start


def attacks(station, port, host):
    """Each attack while units are written; each prints its figure."""
    pid = station.proc.pid
    taken = header_flood(port, host)
    print(f"header flood: the server closed after {taken / 1e6:.1f} MB of 268 MB sent; "
          f"peak RSS {peak_rss_mb(pid):.1f} MB")
    statuses, back = ranges(port, host, 7000, RANGE_REQUESTS)
    assert statuses == {b"200"}, statuses
    print(f"{RANGE_REQUESTS} requests with 7 KB Range headers: 200 with the whole body, "
          f"{back / 1e6:.2f} MB back; peak RSS {peak_rss_mb(pid):.1f} MB")
    statuses, _ = ranges(port, host, 8192, 1)
    assert statuses <= {b"431", b""}, statuses
    print(f"an 8 KB Range header: {statuses}")
    crowd = Crowd(port, host, SLOW_CLIENTS, STALLED_STREAMS)
    time.sleep(1)
    tiles, event = new_viewer(port, host)
    print(f"{SLOW_CLIENTS} slow clients and {STALLED_STREAMS} stalled streams: a new viewer had the status "
          f"in {tiles:.3f} s and its first event in {event:.3f} s; peak RSS {peak_rss_mb(pid):.1f} MB")
    assert peak_rss_mb(pid) < PEAK_RSS_MB, f"peak RSS {peak_rss_mb(pid):.1f} MB"
    return crowd  # still there when the station ends


def refused_labels(program):
    """A Latin-1 port-names file is refused at start; the metrics pass promtool."""
    with tempfile.NamedTemporaryFile("wb", suffix=".txt") as names:
        names.write("sim-usb-1.1 = Caf\u00e9 1\n".encode("latin-1"))
        names.flush()
        done = subprocess.run([program, "upgrade", "--all", "--serve", "127.0.0.1:0", "--port-names", names.name,
                               "--simulate=devices=1"], capture_output=True, text=True, errors="replace", timeout=LONG)
    assert done.returncode == 1 and "not UTF-8 text" in done.stderr and done.stdout == "", done.stderr
    print("a Latin-1 port-names file:", done.stderr.strip())
    with tempfile.TemporaryDirectory() as tmp:
        image = os.path.join(os.fsencode(tmp), "fw-caf\u00e9.bin".encode("latin-1"))
        shutil.copy(os.path.join(os.path.dirname(__file__), "../../res/demo_firmware.bin"), image)
        station = Station(program, ["--image", os.fsdecode(image), "--simulate=devices=1,0:arrive-at=600000"])
        try:
            promtool(station.url, "an image file name in Latin-1")
        finally:
            station.end(interrupt=True)


def rebinding(program):
    """On every address, the machine's own names and addresses are taken; a Host of its name with a domain
    of someone else's, or another machine's address, is refused."""
    station = Station(program, ["--simulate=devices=1,0:arrive-at=600000"], serve="0.0.0.0:0")
    try:
        machine, port = station.url.split("//")[1].rstrip("/").rsplit(":", 1)
        for name, allowed in ((machine, True), (machine + ".evil.example", False), ("localhost", True),
                              ("127.0.0.1", True), ("198.51.100.77", False)):
            reply = exchange(int(port), request(f"{name}:{port}".encode(), b"/status.json"))
            assert (reply[9:12] == b"200") == allowed, f"{name}: {reply[:30]!r}"
            print(f"on every address, Host {name}: {reply[9:12].decode()}")
    finally:
        station.end(interrupt=True)


def long_ranges(program, runner):
    """Each answered with the whole body, and the page still served after them."""
    station = Station(program, ["--simulate=devices=1,0:arrive-at=600000"], runner)
    try:
        port = int(station.url.rsplit(":", 1)[1].strip("/"))
        host = f"127.0.0.1:{port}".encode()
        statuses, back = ranges(port, host, 7000, 100)
        assert statuses == {b"200"}, statuses
        assert get(station.url + "status.json")[0] == 200
        print(f"100 requests with 7 KB Range headers: 200 with the whole body ({back / 1e6:.2f} MB); still served")
    finally:
        station.end(interrupt=True)


def promtool(url, case="the metrics after the attacks"):
    if not shutil.which("promtool"):
        print("promtool is missing: the metrics' format not checked")
        return
    metrics = get(url + "metrics")[1]
    assert "wxr7305_firmware_info" in metrics
    done = subprocess.run(["promtool", "check", "metrics"], input=metrics, capture_output=True, text=True,
                          timeout=LONG)
    assert done.returncode == 0, done.stdout + done.stderr
    print(f"promtool check metrics, {case}: passed")


def same_station(station):
    """The page and the metrics name the run its records name."""
    ids = {r["station"] for r in station.results()}
    page_id = json.loads(get(station.url + "status.json")[1])["station"]["id"]
    metrics = get(station.url + "metrics")[1]
    assert ids == {page_id} and f'wxr7305_station_info{{station="{page_id}"}} 1' in metrics, (ids, page_id)


def hostile(program):
    refused_labels(program)
    rebinding(program)
    cgroup = memory_cgroup() if os.geteuid() == 0 else None
    print(f"the station in a memory cgroup of {CGROUP_BYTES >> 20} MB: {cgroup}" if cgroup else
          "no memory cgroup (needs root and a writable cgroup tree): run without one")
    try:
        hostile_station(program, cgroup)
        if cgroup:
            with open(os.path.join(cgroup, "memory.events" if cgroup.count("/") == 4 else "memory.failcnt")) as f:
                print(f"memory cgroup's record: {' '.join(f.read().split())}")
    finally:
        if cgroup:
            os.rmdir(cgroup)


def hostile_station(program, cgroup):
    station = Station(program, ["--simulate=" + HOSTILE_BENCH], cgroup=cgroup)
    try:
        attacked_station(station)
    finally:
        if station.proc.poll() is None:  # a failed check: no station left behind
            station.proc.kill()
            station.proc.wait(LONG)


def attacked_station(station):
    port = int(station.url.rsplit(":", 1)[1].strip("/"))
    host = f"127.0.0.1:{port}".encode()
    events = []

    def viewer():
        # As a browser's EventSource: again after the page's retry when its stream ends (the oldest
        # viewer is let go for a newcomer while the stalled streams have not fallen behind yet).
        while True:
            try:
                with socket.create_connection(("127.0.0.1", port), timeout=LONG) as s:
                    s.sendall(b"GET /events HTTP/1.1\r\nHost: " + host + b"\r\n\r\n")
                    while chunk := s.recv(65536):
                        events.extend([time.monotonic()] * chunk.count(b"data: "))
            except OSError:
                pass
            time.sleep(EVENT_RETRY)

    threading.Thread(target=viewer, daemon=True).start()
    until("the first event", lambda: events)
    flood = time.monotonic()
    crowd = attacks(station, port, host)
    idle = [socket.create_connection(("127.0.0.1", port), timeout=LONG) for _ in range(200)]
    cases = [
        ("oversized header", b"GET / HTTP/1.1\r\nHost: " + host + b"\r\nX-Big: " + b"a" * 65536 + b"\r\n\r\n", b" 431 "),
        ("1 MB header", b"GET / HTTP/1.1\r\nHost: " + host + b"\r\nX-Big: " + b"a" * (1 << 20) + b"\r\n\r\n", b" 431 "),
        ("1 MB request line", b"GET /" + b"a" * (1 << 20) + b" HTTP/1.1\r\nHost: " + host + b"\r\n\r\n", b" 431 "),
        ("a near route", b"GET /statusXjson HTTP/1.1\r\nHost: " + host + b"\r\n\r\n", b" 404 "),
        ("wrong Host", b"GET / HTTP/1.1\r\nHost: evil.example:" + str(port).encode() + b"\r\n\r\n", b" 403 "),
        ("no Host", b"GET /status.json HTTP/1.1\r\n\r\n", b" 403 "),
        ("a write", b"POST /status.json HTTP/1.1\r\nHost: " + host + b"\r\nContent-Length: 0\r\n\r\n", b" 405 "),
        ("half-sent request", b"GET / HTTP/1.1\r\nHost: " + host, b""),
        ("a good request", b"GET /status.json HTTP/1.1\r\nHost: " + host + b"\r\nOrigin: http://evil.example\r\n\r\n",
         b" 200 "),
    ]
    for name, data, status in cases:
        reply = exchange(port, data)
        # Refused with its status, or dropped; a reset may overtake a refusal of what was not read.
        ok = status in reply[:16] or reply.endswith(b"<reset>") if status else reply == b"" or reply[:10] == b"HTTP/1.1 4"
        ok = ok and not (name in ("wrong Host", "a good request") and reply.endswith(b"<reset>"))
        assert b"access-control" not in reply.lower(), f"{name}: a cross-origin header"
        assert ok, f"{name}: {reply[:80]!r}"
        print(f"{name}: {reply[:30]!r}")
    status, body = get(station.url + "status.json")
    assert status == 200 and json.loads(body)["ports"] is not None
    for s in idle:
        assert dropped(s), "an idle connection was kept"
        s.close()
    assert any(t > flood for t in events), "the viewer got no event during the flood"
    until("eight results", lambda: len(station.results()) == 8)
    promtool(station.url)
    same_station(station)
    rss = peak_rss_mb(station.proc.pid)
    stopped = time.monotonic()
    try:
        assert station.end(interrupt=True) == 0, "exit code"
    finally:
        crowd.end()
    print(f"the station ended {time.monotonic() - stopped - 0.2:.2f} s after Ctrl-C with the slow clients and "
          f"stalled streams still there; peak RSS {rss:.1f} MB")
    assert rss < PEAK_RSS_MB, f"peak RSS {rss:.1f} MB"
    results = station.results()
    assert len(results) == 8 and all(r["result"] == "success" and r["simulated_flash_equals_image"] for r in results), results
    print(f"8 units written; the viewer got {len(events)} events, {sum(t > flood for t in events)} during the flood")


if __name__ == "__main__":
    mode, program = sys.argv[1], sys.argv[2]
    if mode == "browser":
        browser(program, sys.argv[3], sys.argv[4] if len(sys.argv) > 4 else None)
    elif mode == "ranges":
        long_ranges(program, sys.argv[3])
    elif mode == "prometheus":
        prometheus(program)
    else:
        hostile(program)
