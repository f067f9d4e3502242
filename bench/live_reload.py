#!/usr/bin/env python3
"""Measures what live reload costs the requests, against a built pelotest (headless, on
127.0.0.1, in a temporary folder):

    bench/live_reload.py folders BIN   8,080 static folders and DynamicPath=.../(Proj): the time of
                                       200 requests with a fixed Proj and with Proj alternating
                                       between two template folders
    bench/live_reload.py bigpage BIN   a 15.5 MB page asked for by 64 requests at once, with live
                                       reload off and on: the peak RSS and the RSS afterwards

Every process started here is ended by its PID; every loop is bounded."""
import http.client, os, shutil, socket, statistics, subprocess, sys, tempfile, threading, time

def free_port():
    s = socket.socket(); s.bind(("127.0.0.1", 0)); p = s.getsockname()[1]; s.close(); return p

def start(binary, work, settings):
    port = free_port()
    ini = os.path.join(work, "pelotest.ini")
    with open(ini, "w") as f:
        f.write("[Settings]\nPort=%d\nBindAddress=127.0.0.1\n%s" % (port, settings))
    proc = subprocess.Popen([binary, "--headless", "--settings", ini], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, cwd=work)
    proc.stdout.readline()
    return proc, port

def get(port, target):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=600)
    c.request("GET", target); r = c.getresponse(); body = r.read(); c.close()
    return r.status, body

def rss(pid):
    out = {}
    for line in open("/proc/%d/status" % pid):
        if line.startswith(("VmHWM", "VmRSS")):
            k, v = line.split(":"); out[k] = int(v.split()[0]) // 1024
    return out

def folders(binary):
    work = tempfile.mkdtemp(prefix="live-measure-")
    site = os.path.join(work, "site")
    for i in range(8080):
        os.makedirs(os.path.join(site, "d%02d" % (i // 100), "f%04d" % i))
    for proj in ("a", "b"):
        os.makedirs(os.path.join(work, "tmpl", proj))
        open(os.path.join(work, "tmpl", proj, "index.htm"), "w").write("<html><body>%s</body></html>\n" % proj)
    proc, port = start(binary, work, "StaticPath=%s/\nDynamicPath=%s/tmpl//(Proj)\nVirtualPath=app\n"
                       "LiveReload=1\nRemoteEdit=0\n[Tree]\nNode0=index.htm\n" % (site, work))
    try:
        get(port, "/app/?Proj=a"); time.sleep(2)
        for name, values in (("fixed", ["a"]), ("alternating", ["a", "b"])):
            times = []
            for i in range(200):
                t = time.perf_counter()
                get(port, "/app/?Proj=" + values[i % len(values)])
                times.append((time.perf_counter() - t) * 1000)
            print("%-12s median %.2f ms  p90 %.2f ms  max %.2f ms  total %.2f s" % (
                name, statistics.median(times), sorted(times)[179], max(times), sum(times) / 1000))
    finally:
        proc.terminate(); proc.wait()
        shutil.rmtree(work, ignore_errors=True)

def bigpage(binary):
    work = tempfile.mkdtemp(prefix="live-measure-")
    site = os.path.join(work, "site"); os.makedirs(site)
    line = "<p>" + "x" * 96 + "</p>\n"
    with open(os.path.join(site, "big.htm"), "w") as f:
        f.write("<html><head><title>Big</title></head><body>\n")
        f.write(line * (int(15.5 * 1024 * 1024) // len(line)))
        f.write("</body></html>\n")
    for live in (0, 1):
        proc, port = start(binary, work, "StaticPath=%s/\nLiveReload=%d\nRemoteEdit=0\n" % (site, live))
        try:
            get(port, "/"); base = rss(proc.pid)
            sizes = []
            def one():
                try:
                    sizes.append(len(get(port, "/big.htm")[1]))
                except Exception as e:
                    sizes.append(repr(e)[:40])
            threads = [threading.Thread(target=one) for _ in range(64)]
            t = time.perf_counter()
            for th in threads: th.start()
            for th in threads: th.join()
            took = time.perf_counter() - t
            time.sleep(1)
            after = rss(proc.pid)
            print("live=%d  64 requests of %.1f MB: %.2f s, peak RSS %d MB (start %d MB), RSS after %d MB, %s" % (
                live, sizes[0] / 1048576, took, after["VmHWM"], base["VmRSS"], after["VmRSS"],
                "all whole" if len(set(sizes)) == 1 and len(sizes) == 64 else "SIZES DIFFER %s" % set(sizes)))
        finally:
            proc.terminate(); proc.wait()
    shutil.rmtree(work, ignore_errors=True)

{"folders": folders, "bigpage": bigpage}[sys.argv[1]](sys.argv[2])
