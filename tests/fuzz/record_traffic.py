"""Recorded traffic for the fuzz seeds (make_seeds.py).

record() runs the real hbr-agent against the peers of tools/world/hbr-world
and returns what they recorded: one world (scenario below) and one agent
with its sleeps divided by 1000, the AT channel's bring-up, then by default
an activation, a deactivation and a check; a flow ends with the report it
sends the module ("AT+GTPCTPOC=<flow>,<result>"). card_session() asks the
simulated eUICC (hbr-modem-sim --stdin) for its lists.
"""

import json
import os
import shutil
import signal
import subprocess
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
OLD = "8901000000000000001"
NEW = "8901000000000000002"
# The flows in order and the report command that ends each.
FLOWS = (("ACTIVE", "AT+GTPCTPOC=1,"), ("DEACTIVE", "AT+GTPCTPOC=0,"), ("CHECK", "AT+GTPCTPOC=2,"))


def scenario(platform, channel):
    """One old provisioning profile enabled; the SM-DP+ serves a new one with a small package."""
    return {
        "modem": {"platform": platform, "channel": channel,
                  "seed": {"eid": "89049032000000000000000000000001",
                           "profiles": [{"iccid": OLD, "state": 1, "class": 1, "profileName": "Boot",
                                         "serviceProviderName": "Hollowbright", "nickname": "boot"}],
                           "module": {"imei": "864000000000001", "provIccid": OLD, "pocUsageType": 1},
                           # A rules table with one rule: PPR2 allowed for MCC 123, MNC 45 without consent.
                           "rat": "BF4314A012301080020520A1073005800321F354820100"}},
        "smdp": {"profiles": [{"matchingId": "SEED-1", "iccid": NEW, "profileName": "Seed IoT",
                               "serviceProviderName": "Hollowbright", "elements": [5, 40],
                               "ppr": "0520", "owner": {"mccMnc": "21F354"}}]},
        "cloud": {"script": [{"function": "opercode", "call": "always",
                              "reply": {"code": 0, "message": "success",
                                        "data": {"status": 1, "operation": 1, "token": "{activationCode}",
                                                 "simMode": 0}}}]},
        "bootstrap": {"apns": [{"apn": "iot.seed,IPV4V6,CHAP,user,secret,3", "iccid": [NEW]},
                               {"apn": "ims.seed,ipv4,pap,,,1", "iccid": ["8986", "8900"]}]},
    }


class Run:
    """The folders and environment of one recorded run."""

    def __init__(self, folder, env):
        self.folder = folder
        self.env = env
        self.agent = os.path.join(folder, "agent")

    def records(self):
        """The module's JSON-line records."""
        with open(self.env["HBR_MODEM_RECORDS"], encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]

    def requests(self, server):
        """The bodies a test server recorded, in order (req-<n>.body)."""
        folder = self.env["HBR_RECORDS_" + server]
        out = []
        n = 1
        while os.path.exists(os.path.join(folder, "req-%d.head" % n)):
            with open(os.path.join(folder, "req-%d.head" % n), "rb") as head, \
                    open(os.path.join(folder, "req-%d.body" % n), "rb") as body:
                out.append((head.read(), body.read()))
            n += 1
        return out

    def jsonl(self, *parts):
        """A peer's JSON-line records under the world's folder ([] when it wrote none)."""
        path = os.path.join(self.folder, "world", *parts)
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]

    def values_files(self):
        """Every .values file the registry holds after the run."""
        out = []
        for top, _, files in os.walk(self.env["HBR_REGISTRY_ROOT"]):
            out += [os.path.join(top, name) for name in sorted(files) if name == ".values"]
        return sorted(out)

    def log(self, name="HbrAgentService.log"):
        path = os.path.join(self.agent, name)
        if not os.path.exists(path):
            return ""
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()


# ES10 requests of a card session: every profile field, the notification
# lists, the eUICC's information, addresses, EID and rules table.
CARD_REQUESTS = ("BF2D00", "BF2D0C5C0A9F70909192959699B6B7", "BF2800", "BF2B00", "BF2000", "BF3C00",
                 "BF3E035C015A", "BF4300")


def card_session(build, seed, folder):
    """The simulated eUICC's answers (hbr-modem-sim --stdin) to CARD_REQUESTS over
    logical channel 1: [(request, answer)] as bytes, the status words cut off."""
    os.makedirs(folder, exist_ok=True)
    with open(seed, encoding="utf-8") as f:
        values = json.load(f)
    values.pop("faults", None)
    path = os.path.join(folder, "card-seed.json")
    with open(path, "w", encoding="utf-8") as f:
        json.dump(values, f)
    sim = subprocess.Popen([os.path.join(build, "bin", "hbr-modem-sim"), "--stdin", "--seed", path],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)

    def apdu(hex_text):
        sim.stdin.write('AT+CSIM=%d,"%s"\n' % (len(hex_text), hex_text))
        sim.stdin.flush()
        while True:
            line = sim.stdout.readline()
            if not line:
                raise RuntimeError("hbr-modem-sim --stdin ended")
            if line.startswith("+CSIM:"):
                return line.split('"')[1]
            if line.strip() == "ERROR":
                return ""

    try:
        apdu("0070000001")
        apdu("01A4040010A0000005591010FFFFFFFF890000010000")
        out = []
        for request in CARD_REQUESTS:
            answer = apdu("81E29100%02X%s" % (len(request) // 2, request))
            data = ""
            while answer.startswith("61", len(answer) - 4) if len(answer) >= 4 else False:
                data += answer[:-4]
                answer = apdu("01C00000" + answer[-2:])
            data += answer[:-4]
            out.append((bytes.fromhex(request), bytes.fromhex(data)))
        return out
    finally:
        sim.stdin.close()
        sim.wait(timeout=30)


def wait(predicate, seconds, what, agent=None):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if predicate():
            return
        if agent is not None and agent.poll() is not None:
            raise RuntimeError("hbr-agent ended (%d) while waiting for %s" % (agent.returncode, what))
        time.sleep(0.05)
    raise RuntimeError("time-out waiting for " + what)


def record(build, folder, platform, channel, flows=FLOWS, timeout=120):
    """Brings the agent's AT channel up and runs the flows in a fresh folder; returns the Run."""
    build = os.path.abspath(build)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    with open(os.path.join(folder, "scenario.json"), "w") as f:
        json.dump(scenario(platform, channel), f)
    state = os.path.join(folder, "world")
    os.makedirs(state)
    world = subprocess.Popen(
        [os.path.join(ROOT, "tools", "world", "hbr-world"), "--scenario", os.path.join(folder, "scenario.json"),
         "--state", state, "--bin", os.path.join(build, "bin"), "--deployment", os.path.join(build, "deployment"),
         "--deployment-servers", os.path.join(build, "deployment-servers")],
        stdout=open(os.path.join(state, "world.out"), "w"), stderr=open(os.path.join(state, "world.err"), "w"))
    agent = None
    try:
        def ready():
            with open(os.path.join(state, "world.out")) as f:
                return "READY\n" in f.read()
        wait(ready, 60, "the world")
        env = {}
        with open(os.path.join(state, "world.out")) as f:
            for line in f:
                name, sep, value = line.rstrip("\n").partition("=")
                if sep:
                    env[name] = value
        run = Run(folder, env)
        os.makedirs(run.agent)
        shutil.copy(os.path.join(build, "bin", "hbr-agent"), run.agent)
        agent_env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
        agent_env.update(env)
        agent_env["HBR_SLEEP_DIVISOR"] = "1000"
        agent = subprocess.Popen([os.path.join(run.agent, "hbr-agent")], cwd=run.agent, env=agent_env,
                                 stdout=open(os.path.join(run.agent, "agent.stdout"), "w"),
                                 stderr=open(os.path.join(run.agent, "agent.stderr"), "w"))
        wait(lambda: "DestroyAtChannelTimer" in run.log(), timeout, "the AT channel", agent)
        if platform == "1":
            wait(lambda: "TriggerAgent2ModuleSyncFlow(0-DPD_DONE_STATUS)" in run.log(), timeout, "the sync", agent)
        control = os.path.join(build, "bin", "hbr-modem-sim")
        for word, report in flows:
            def reports():
                return sum(1 for r in run.records() if r["kind"] == "command" and r["text"].startswith(report))
            before = reports()
            subprocess.run([control, "ctl", "--control", env["HBR_MODEM_CONTROL"], "notify", word], check=True,
                           stdout=subprocess.DEVNULL)
            wait(lambda: reports() > before, timeout, "the report of " + word, agent)
        agent.send_signal(signal.SIGTERM)
        if agent.wait(timeout=60) != 0:
            raise RuntimeError("hbr-agent exited %d on SIGTERM" % agent.returncode)
        return run
    finally:
        if agent is not None and agent.poll() is None:
            agent.kill()
            agent.wait()
        world.send_signal(signal.SIGTERM)
        try:
            world.wait(timeout=30)
        except subprocess.TimeoutExpired:
            world.kill()
            world.wait()
