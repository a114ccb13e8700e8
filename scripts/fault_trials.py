#!/usr/bin/env python3
"""Fault trials: bt_host and simulated_perception_service as two processes, with faults injected
into the traffic between them. Run by run-fault-trials.sh inside a private network namespace
(loopback only), one middleware per call; needs root for nft.

Each trial prints the host's outcome table, the packets its nft rules dropped and a verdict; the
exit status is 1 when any trial fails.
"""
import argparse
import ctypes
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
from collections import namedtuple
from pathlib import Path

TABLE = "kestrava_fault_trials"
TICK_MS = 50
SERVICE_WAIT_MS = 1000  # the node's own wait for the service, before its time limit starts
# Scheduling on a loaded machine: a run may end this much after its limit and one tick.
SLACK_MS = 250
RECOVERY_MS = 5000
MEMORY_GROWTH_KIB = 1024
DISCOVERY_END = ("FAILURE", None, 102501005)
TOLERATED = {"SUCCESS", 102501005, 102501008}

# Where a program starts: the command it runs under (such as `ip netns exec`) and the ROS
# arguments after its own.
Placement = namedtuple("Placement", "prefix ros_args")
HERE = Placement((), ())

FAST_DDS_UDP_ONLY = """<?xml version="1.0" encoding="UTF-8"?>
<!-- UDP alone: two processes of one machine would otherwise meet in shared memory, which no
     packet filter sees. -->
<profiles xmlns="http://www.eprosima.com/XMLSchemas/fastRTPS_Profiles">
  <transport_descriptors>
    <transport_descriptor>
      <transport_id>udp_only</transport_id>
      <type>UDPv4</type>
    </transport_descriptor>
  </transport_descriptors>
  <participant profile_name="udp_only" is_default_profile="true">
    <rtps>
      <userTransports><transport_id>udp_only</transport_id></userTransports>
      <useBuiltinTransports>false</useBuiltinTransports>
    </rtps>
  </participant>
</profiles>
"""


def die_with_parent():
    # A child must not outlive the trials and keep the namespace alive.
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def now_ms():
    return int(time.time() * 1000)


def nft(*arguments, capture=False):
    result = subprocess.run(["nft", *arguments], check=True, text=True,
                            stdout=subprocess.PIPE if capture else None)
    return result.stdout


class Rules:
    """An nft table of the trials' own on the namespace's loopback; counts what it drops."""

    def __init__(self):
        nft("add", "table", "inet", TABLE)
        nft("add", "chain", "inet", TABLE, "input",
            "{ type filter hook input priority 0; policy accept; }")
        self.dropped_before = 0

    def drop(self, percent):
        match = [] if percent >= 100 else ["numgen", "random", "mod", "100", "<", str(percent)]
        nft("add", "rule", "inet", TABLE, "input", "iif", "lo", "meta", "l4proto", "udp",
            *match, "counter", "drop")

    def heal(self):
        self.dropped_before = self.dropped()
        nft("flush", "chain", "inet", TABLE, "input")

    def dropped(self):
        listing = json.loads(nft("-j", "list", "table", "inet", TABLE, capture=True))
        counted = sum(item["rule"]["expr"][-2]["counter"]["packets"]
                      for item in listing["nftables"] if "rule" in item)
        return self.dropped_before + counted

    def remove(self):
        subprocess.run(["nft", "delete", "table", "inet", TABLE], check=False,
                       stderr=subprocess.DEVNULL)


class Trials:
    def __init__(self, options, work):
        self.options = options
        self.work = work
        self.processes = []
        self.failures = []
        install = Path(options.install)
        self.plugin = install / "kestrava_arm_behavior_tree/lib/libdetect_toilet_info_node.so"
        self.programs = install / "kestrava_arm_bt_tools/lib/kestrava_arm_bt_tools"
        self.examples = install / "kestrava_arm_bt_tools/share/kestrava_arm_bt_tools/examples"

    def summarise(self, label, count):
        """Prints the failures and a count of the trials; returns the exit status they give."""
        for failure in self.failures:
            print(f"{label}: FAILED {failure}")
        print(f"{label}: {count} trial(s), {len(self.failures)} problem(s)")
        return 1 if self.failures else 0

    # --- processes -------------------------------------------------------------------------

    def start(self, name, command, placement=HERE):
        log = open(self.work / f"{name}.log", "w")
        process = subprocess.Popen([*placement.prefix, *command, *placement.ros_args],
                                   stdout=log, stderr=subprocess.STDOUT,
                                   preexec_fn=die_with_parent)
        process.name = name
        self.processes.append(process)
        return process

    def service(self, name, reply_delay_ms=0, placement=HERE, answer=None):
        answer = answer or self.examples / "responses/success.yaml"
        return self.start(name, [str(self.programs / "simulated_perception_service"),
                                 "--response", str(answer),
                                 "--reply-delay-ms", str(reply_delay_ms)], placement)

    def tree(self, limit_ms):
        text = (self.examples / "detect_toilet.xml").read_text()
        path = self.work / f"tree_{limit_ms}.xml"
        limit = 'timeout_duration="2000"'
        if limit not in text:
            raise RuntimeError(f"the example tree has no {limit} to replace")
        path.write_text(text.replace(limit, f'timeout_duration="{limit_ms}"'))
        return path

    def host(self, name, runs, limit_ms, pause_ms=0, placement=HERE):
        summary = self.work / f"{name}.json"
        process = self.start(name, [
            str(self.programs / "bt_host"), "--plugin", str(self.plugin),
            "--tree", str(self.tree(limit_ms)), "--tick-period-ms", str(TICK_MS),
            "--repeat", str(runs), "--pause-ms", str(pause_ms), "--summary-json", str(summary)],
            placement)
        process.summary = summary
        process.limit_ms = limit_ms
        return process

    def stop_all(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
            process.wait()
        self.processes = []

    # --- verdicts --------------------------------------------------------------------------

    def finish_host(self, host, timeout_s, interrupt=False):
        if interrupt:
            host.send_signal(signal.SIGINT)
        try:
            host.wait(timeout=timeout_s)
        except subprocess.TimeoutExpired:
            host.kill()
            host.wait()
            return None, f"{host.name} did not end within {timeout_s} s"
        expected = {0, 1} | ({6} if interrupt else set())
        if host.returncode not in expected:
            return None, f"{host.name} exited with status {host.returncode}"
        return json.loads(host.summary.read_text()), None

    def check(self, trial, condition, problem):
        if not condition:
            self.failures.append(f"{trial}: {problem}")
            print(f"  FAIL: {problem}")

    def check_alive(self, trial, *processes):
        for process in processes:
            self.check(trial, process.poll() is None,
                       f"{process.name} ended by itself (status {process.returncode})")

    def report(self, trial, summary, rules):
        print(f"  {'runs':>5}  {'end':<11}  {'error_code':<10}  status_code")
        for outcome in summary["outcomes"]:
            print(f"  {outcome['runs']:>5}  {outcome['end']:<11}  "
                  f"{outcome['error_code'] or '-':<10}  {outcome['status_code'] or '-'}")
        figures = summary["run_time_ms"]
        print(f"  run time (ms): median {figures['median']:.0f}, p99 {figures['p99']:.0f}, "
              f"max {figures['max']:.0f}")
        if rules is not None:
            dropped = rules.dropped()
            print(f"  packets dropped by the rules: {dropped}")
            self.check(trial, dropped > 0, "the rules dropped nothing: the fault never reached "
                       "the traffic")

    @staticmethod
    def after_discovery(runs):
        """The runs from the first that found the service on."""
        for index, run in enumerate(runs):
            if (run["end"], run["error_code"], run["status_code"]) != DISCOVERY_END:
                return runs[index:]
        return []

    def check_runs(self, trial, runs, limit_ms, allowed=TOLERATED):
        bound = SERVICE_WAIT_MS + limit_ms + TICK_MS + SLACK_MS
        for number, run in enumerate(runs, 1):
            if run["end"] == "INTERRUPTED":
                continue
            outcome = "SUCCESS" if run["end"] == "SUCCESS" else run["status_code"]
            self.check(trial, outcome in allowed,
                       f"run {number} ended {run['end']} {run['error_code']} "
                       f"{run['status_code']}, which the fault does not explain")
            self.check(trial, run["duration_ms"] <= bound,
                       f"run {number} took {run['duration_ms']:.0f} ms, past {bound} ms")

    def check_recovery(self, trial, runs, healed_ms):
        successes = [run["started_unix_ms"] + run["duration_ms"] for run in runs
                     if run["end"] == "SUCCESS" and run["started_unix_ms"] >= healed_ms]
        first = min(successes) - healed_ms if successes else None
        print(f"  first success after the fault ended: "
              f"{'none' if first is None else f'{first:.0f} ms later'}")
        self.check(trial, first is not None and first <= RECOVERY_MS,
                   f"no run succeeded within {RECOVERY_MS} ms after the fault ended")

    def check_memory(self, trial, runs):
        if len(runs) < 200:
            return
        first = sum(run["resident_kib"] for run in runs[:100]) / 100
        last = sum(run["resident_kib"] for run in runs[-100:]) / 100
        print(f"  resident memory: {first:.0f} KiB over the first 100 runs, "
              f"{last:.0f} KiB over the last 100")
        self.check(trial, last - first <= MEMORY_GROWTH_KIB,
                   f"resident memory grew by {last - first:.0f} KiB")

    def fault_rules(self):
        """What injects the faults of a trial; removed when it ends."""
        return Rules()

    def run_trial(self, name, description, body):
        print(f"--- trial {name} over {self.options.rmw}: {description}")
        started = time.monotonic()
        failures_before = len(self.failures)
        rules = self.fault_rules()
        try:
            body(name, rules)
        finally:
            self.stop_all()
            rules.remove()
        verdict = "PASS" if len(self.failures) == failures_before else "FAIL"
        print(f"  verdict: {verdict} ({time.monotonic() - started:.0f} s)")

    # --- the trials ------------------------------------------------------------------------

    def outcome_of(self, trial, host, service, timeout_s, interrupt=False):
        """The host's summary once it ended; checks that neither program died unbidden."""
        summary, problem = self.finish_host(host, timeout_s, interrupt)
        self.check(trial, problem is None, problem)
        self.check_alive(trial, service)
        return summary

    def recovery(self, trial, host, service, rules, fault_ended_ms):
        """Lets the host run on past the recovery time, then stops it and checks its runs."""
        time.sleep(RECOVERY_MS / 1000 + 1)
        summary = self.outcome_of(trial, host, service, timeout_s=10, interrupt=True)
        if summary:
            self.report(trial, summary, rules)
            runs = self.after_discovery(summary["run_log"])
            self.check_runs(trial, runs, host.limit_ms)
            self.check_recovery(trial, runs, fault_ended_ms)
        return summary

    def loss(self, trial, rules):
        service = self.service("loss_service")
        rules.drop(30)
        host = self.host("loss_host", runs=self.options.soak_runs, limit_ms=300)
        summary = self.outcome_of(trial, host, service, timeout_s=self.options.soak_runs * 2)
        if summary:
            self.report(trial, summary, rules)
            self.check_runs(trial, summary["run_log"], host.limit_ms)
            self.check_memory(trial, summary["run_log"])

    def partition(self, trial, rules):
        service = self.service("partition_service")
        host = self.host("partition_host", runs=100000, limit_ms=500, pause_ms=100)
        time.sleep(3)
        rules.drop(100)
        time.sleep(3)
        rules.heal()
        self.recovery(trial, host, service, rules, now_ms())

    def service_crash(self, trial, rules):
        # Every request waits 400 ms for its answer, so a kill finds one outstanding.
        crashing = self.service("crashing_service", reply_delay_ms=400)
        host = self.host("crash_host", runs=100000, limit_ms=1000, pause_ms=100)
        time.sleep(3.2)
        crashing.kill()
        time.sleep(2)
        restarted = self.service("restarted_service", reply_delay_ms=400)
        self.recovery(trial, host, restarted, None, now_ms())

    def slow_service(self, trial, rules):
        slow = self.service("slow_service", reply_delay_ms=1500)
        host = self.host("slow_host", runs=100000, limit_ms=1000, pause_ms=100)
        time.sleep(8)
        slow.terminate()
        slow.wait()
        switched = now_ms()
        summary = self.recovery(trial, host, self.service("prompt_service"), None, switched)
        if summary:
            runs = self.after_discovery(summary["run_log"])
            before = [run for run in runs if run["started_unix_ms"] + run["duration_ms"] < switched]
            self.check(trial, len(before) >= 3, f"only {len(before)} runs met the slow service")
            # A run that takes the late answer of the run before it ends SUCCESS here.
            self.check_runs(trial, before, host.limit_ms, allowed={102501008})

    def host_crash(self, trial, rules):
        service = self.service("surviving_service", reply_delay_ms=300)
        crashed = self.host("crashed_host", runs=100000, limit_ms=1000)
        time.sleep(3.1)
        crashed.kill()
        crashed.wait()
        started = now_ms()
        host = self.host("new_host", runs=10, limit_ms=1000)
        summary = self.outcome_of(trial, host, service, timeout_s=60)
        if summary:
            self.report(trial, summary, None)
            runs = self.after_discovery(summary["run_log"])
            self.check_runs(trial, runs, host.limit_ms, allowed={"SUCCESS"})
            self.check_recovery(trial, runs, started)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--install", required=True,
                        help="the workspace's install folder, with the packages built")
    parser.add_argument("--rmw", default=os.environ.get("RMW_IMPLEMENTATION", "rmw_fastrtps_cpp"))
    parser.add_argument("--soak-runs", type=int, default=200)
    parser.add_argument("--only", nargs="*", help="run only these trials")
    options = parser.parse_args()

    os.environ["RMW_IMPLEMENTATION"] = options.rmw
    os.environ.update(SPDLOG_LEVEL="warning", SPDLOG_STDOUT="true", SPDLOG_SYSTEMD="false")
    subprocess.run(["ip", "link", "set", "lo", "up", "multicast", "on"], check=True)
    subprocess.run(["ip", "route", "add", "224.0.0.0/4", "dev", "lo"], check=False)
    with tempfile.TemporaryDirectory(prefix="kestrava-fault-trials.") as work_dir:
        work = Path(work_dir)
        if options.rmw == "rmw_fastrtps_cpp":
            profile = work / "fastdds_udp_only.xml"
            profile.write_text(FAST_DDS_UDP_ONLY)
            os.environ["FASTRTPS_DEFAULT_PROFILES_FILE"] = str(profile)
            # With a localhost-only setting (Humble's ROS_LOCALHOST_ONLY, Jazzy's discovery
            # range) rmw_fastrtps_cpp chooses its transports itself, shared memory among them,
            # over the profile's. The namespace has loopback alone, so nothing leaves it anyway.
            for variable in ("ROS_LOCALHOST_ONLY", "ROS_AUTOMATIC_DISCOVERY_RANGE"):
                os.environ.pop(variable, None)
        trials = Trials(options, work)
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
        plan = [
            ("loss", f"30 % of packets dropped during {options.soak_runs} runs", trials.loss),
            ("partition", "all traffic dropped for 3 s, then healed", trials.partition),
            ("service_crash", "service killed mid-request, restarted 2 s later",
             trials.service_crash),
            ("slow_service", "answers 1.5 s late against a 1 s limit, then at once",
             trials.slow_service),
            ("host_crash", "host killed mid-request, a new host started", trials.host_crash),
        ]
        for name, description, body in plan:
            if not options.only or name in options.only:
                trials.run_trial(name, description, body)
    return trials.summarise(options.rmw, len(options.only) if options.only else len(plan))


if __name__ == "__main__":
    sys.exit(main())
