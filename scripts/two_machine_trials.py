#!/usr/bin/env python3
"""Two-machine trials: bt_host and simulated_perception_service on two simulated machines, network
namespaces of their own joined by a virtual Ethernet pair, each with its own address, no loopback
or shared memory in common and a firewall that passes only DDS's ports of the domain, and an
intruder's machine plugged into the host's. Plain or under SROS2 (each machine holding only its
part of the keystore), one middleware per call; run by run-fault-trials.sh --two-machines. Needs
root (ip netns, nft).

Trials: fresh hosts across the link (their discovery times and the check of the service from the
host's machine), forged answers from the intruder's machine, and the link cut for 3 s at the
host's side and restored. Exit status 1 when any trial fails.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from fault_trials import FAST_DDS_UDP_ONLY, Placement, Trials, now_ms

SUBNET = "10.150.0"
ADDRESSES = {"host": f"{SUBNET}.1", "perception": f"{SUBNET}.2", "intruder": f"{SUBNET}.3"}
HOST_ENCLAVE = "/kestrava/bt_host"
PERCEPTION_ENCLAVE = "/kestrava/perception"
CHECK_ENCLAVE = "/kestrava/check"
FORGED_ANSWER = (Path(__file__).resolve().parent.parent
                 / "kestrava_arm_bt_tools/test/security/data/forged_pose.yaml")
TRUSTED_POSE = "toilet at translation [0.42, -0.1, 0.35]"
ANY_POSE = "toilet at translation ["
DISCOVERED = re.compile(r"discovered after (\d+) ms")
FRESH_HOSTS = 3
RUNS_PER_HOST = 3
HOST_LIMIT_S = 40
# Processes per machine whose DDS ports the firewalls pass.
PARTICIPANTS = 10
# Cyclone DDS on Humble receives unicast on ports of the system's choosing unless participants take
# an index, which a firewall by port needs; Jazzy's rmw_cyclonedds_cpp asks for one itself.
CYCLONE_DDS_INDEXED = ("<CycloneDDS><Domain Id=\"any\"><Discovery>"
                       "<ParticipantIndex>auto</ParticipantIndex>"
                       f"<MaxAutoParticipantIndex>{PARTICIPANTS - 1}</MaxAutoParticipantIndex>"
                       "</Discovery></Domain></CycloneDDS>")
FIREWALL = """table inet kestrava_firewall {{
  chain input {{
    type filter hook input priority 0; policy drop;
    iif lo accept
    ct state established,related accept
    udp dport {{ {ports} }} accept
  }}
}}
"""


def ip(*arguments):
    subprocess.run(["ip", *arguments], check=True)


def dds_ports(domain):
    """The UDP ports DDS receives on in a domain: discovery's and user traffic's multicast ports,
    then a unicast pair per participant (one participant per process), and Fast DDS's ports of
    readers that ask for a network flow of their own, as some of Jazzy's do (7000 to 7399 in
    every domain)."""
    base = 7400 + 250 * domain
    return f"{base}, {base + 1}, {base + 10}-{base + 11 + 2 * (PARTICIPANTS - 1)}, 7000-7399"


class Network:
    """Three machines as network namespaces. The host's bridges two ports: eth0, the veth pair to
    the perception computer, and eth1, the intruder's; a cut takes eth0 down there, as a cable
    pulled out of the host's switch, which leaves either side's addresses and routes in place."""

    def __init__(self, prefix):
        self.namespaces = {machine: f"{prefix}-{machine}" for machine in ADDRESSES}

    def create(self, domain):
        for namespace in self.namespaces.values():
            ip("netns", "add", namespace)
            ip("-n", namespace, "link", "set", "lo", "up")
        host = self.namespaces["host"]
        ip("-n", host, "link", "add", "br0", "type", "bridge", "mcast_snooping", "0")
        for port, machine in (("eth0", "perception"), ("eth1", "intruder")):
            ip("link", "add", port, "netns", host, "type", "veth",
               "peer", "name", "eth0", "netns", self.namespaces[machine])
            ip("-n", host, "link", "set", port, "master", "br0", "up")
        self.configure("host", "br0")
        self.configure("perception", "eth0")
        self.configure("intruder", "eth0")
        # The robot's two machines let in what DDS needs of their domain and nothing else.
        for machine in ("host", "perception"):
            subprocess.run(["ip", "netns", "exec", self.namespaces[machine], "nft", "-f", "-"],
                           input=FIREWALL.format(ports=dds_ports(domain)), text=True, check=True)

    def configure(self, machine, interface):
        namespace = self.namespaces[machine]
        ip("-n", namespace, "address", "add", f"{ADDRESSES[machine]}/24", "dev", interface)
        ip("-n", namespace, "link", "set", interface, "up", "multicast", "on")
        # Discovery's multicast leaves by the machine's network, as on a real robot.
        ip("-n", namespace, "route", "add", "224.0.0.0/4", "dev", interface)

    def remove(self):
        for namespace in self.namespaces.values():
            subprocess.run(["ip", "netns", "delete", namespace], check=False,
                           stderr=subprocess.DEVNULL)

    def on(self, machine, settings=(), ros_args=()):
        return Placement(("ip", "netns", "exec", self.namespaces[machine], "env", *settings),
                         tuple(ros_args))


class LinkCut:
    """The faults of a trial: the perception computer's link at the host's switch."""

    def __init__(self, network):
        self.host = network.namespaces["host"]
        self.cut = False

    def set(self, state):
        ip("-n", self.host, "link", "set", "eth0", state)
        self.cut = state == "down"

    def remove(self):
        if self.cut:
            self.set("up")


def machine_keystore(keystore, folder, enclaves):
    """What one machine holds: the authority's certificates, the governance and its own
    enclaves; no private key of the authority, nor another machine's key."""
    (folder / "enclaves").mkdir(parents=True)
    shutil.copytree(keystore / "public", folder / "public", symlinks=True)
    shutil.copy2(keystore / "enclaves/governance.p7s", folder / "enclaves")
    for enclave in enclaves:
        shutil.copytree(keystore / f"enclaves{enclave}", folder / f"enclaves{enclave}",
                        symlinks=True)
    return folder


class TwoMachineTrials(Trials):
    def __init__(self, options, work, network, keystore):
        super().__init__(options, work)
        self.network = network
        self.keystores = {}
        if keystore:
            self.keystores = {
                "host": machine_keystore(keystore, work / "host", [HOST_ENCLAVE, CHECK_ENCLAVE]),
                "perception": machine_keystore(keystore, work / "perception",
                                               [PERCEPTION_ENCLAVE]),
                "intruder": machine_keystore(keystore, work / "intruder", [CHECK_ENCLAVE]),
            }

    def fault_rules(self):
        return LinkCut(self.network)

    def on(self, machine, enclave=None, remapping=()):
        """A program on one machine: in the enclave given when the trials are secured."""
        if not self.keystores or enclave is None:
            return self.network.on(machine, ["-u", "ROS_SECURITY_ENABLE"])
        settings = ["ROS_SECURITY_ENABLE=true", "ROS_SECURITY_STRATEGY=Enforce",
                    f"ROS_SECURITY_KEYSTORE={self.keystores[machine]}"]
        return self.network.on(machine, settings,
                               ["--ros-args", "--enclave", enclave, *remapping])

    def log_of(self, process):
        return (self.work / f"{process.name}.log").read_text()

    def finished(self, trial, process, timeout_s=HOST_LIMIT_S):
        """The exit status of a program that ends by itself; None when it did not."""
        try:
            return process.wait(timeout=timeout_s)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            self.check(trial, False, f"{process.name} did not end within {timeout_s} s")
            return None

    def await_offer(self, trial, service, timeout_s=20):
        deadline = time.monotonic() + timeout_s
        while "offering " not in self.log_of(service):
            if service.poll() is not None or time.monotonic() > deadline:
                self.check(trial, False, f"{service.name} offered nothing within {timeout_s} s:\n"
                           + self.log_of(service))
                return False
            time.sleep(0.1)
        return True

    # --- the trials ------------------------------------------------------------------------

    def fresh_hosts(self, trial, rules):
        service = self.service("service", placement=self.on("perception", PERCEPTION_ENCLAVE))
        if not self.await_offer(trial, service):
            return
        discovered = []
        for number in range(1, FRESH_HOSTS + 1):
            host = self.host(f"host_{number}", runs=RUNS_PER_HOST, limit_ms=2000,
                             placement=self.on("host", HOST_ENCLAVE))
            status = self.finished(trial, host)
            log = self.log_of(host)
            self.check(trial, status == 0, f"{host.name} exited {status}:\n{log}")
            poses = log.count(TRUSTED_POSE)
            self.check(trial, poses == RUNS_PER_HOST,
                       f"{host.name}: {poses} of {RUNS_PER_HOST} runs got the pose:\n{log}")
            found = DISCOVERED.search(log)
            discovered.append(int(found.group(1)) if found else None)
        print(f"  {FRESH_HOSTS} hosts × {RUNS_PER_HOST} runs; service discovered after (ms): "
              f"{', '.join(str(time) for time in discovered)}")
        check = self.start("check", [str(self.programs / "check_perception_service"),
                                     "--rounds", "2"], self.on("host", CHECK_ENCLAVE))
        status = self.finished(trial, check)
        self.check(trial, status == 0, f"the check exited {status}:\n{self.log_of(check)}")

    def intruders(self, trial, rules):
        """Forged answers from the third machine. Without security the host takes them, which
        shows that the machine reaches the graph; under SROS2 neither an intruder without identity
        nor one in an enclave of its own that may only call the service is heard, beside the
        trusted service."""
        keyless = self.service("keyless_intruder", answer=FORGED_ANSWER,
                               placement=self.on("intruder"))
        offering = [keyless]
        if self.keystores:
            offering.append(self.service("service",
                                         placement=self.on("perception", PERCEPTION_ENCLAVE)))
            self.refused(trial, self.service(
                "enclaved_intruder", answer=FORGED_ANSWER,
                placement=self.on("intruder", CHECK_ENCLAVE,
                                  ("-r", "__node:=check_perception_service"))))
        if not all(self.await_offer(trial, service) for service in offering):
            return
        host = self.host("host", runs=5, limit_ms=2000, placement=self.on("host", HOST_ENCLAVE))
        self.finished(trial, host)
        log = self.log_of(host)
        trusted, forged = log.count(TRUSTED_POSE), log.count(ANY_POSE) - log.count(TRUSTED_POSE)
        print(f"  host: {trusted} of 5 runs the trusted pose, {forged} the forged one")
        expected = (5, 0) if self.keystores else (0, 5)
        self.check(trial, (trusted, forged) == expected,
                   f"trusted and forged poses {trusted}, {forged}, not {expected}:\n{log}")

    def refused(self, trial, intruder):
        status = self.finished(trial, intruder)
        print(f"  {intruder.name}: exit status {status}")
        self.check(trial, status == 3 and "cannot offer" in self.log_of(intruder),
                   f"{intruder.name} was not refused the service (status {status}):\n"
                   + self.log_of(intruder))

    def link_cut(self, trial, link):
        service = self.service("service", placement=self.on("perception", PERCEPTION_ENCLAVE))
        host = self.host("host", runs=100000, limit_ms=500, pause_ms=100,
                         placement=self.on("host", HOST_ENCLAVE))
        time.sleep(3)
        link.set("down")
        time.sleep(3)
        link.set("up")
        self.recovery(trial, host, service, None, now_ms())


def discovery_settings():
    """Discovery beyond loopback, over the machines' network."""
    for variable in ("ROS_LOCALHOST_ONLY", "ROS_AUTOMATIC_DISCOVERY_RANGE"):
        os.environ.pop(variable, None)
    os.environ["CYCLONEDDS_URI"] = CYCLONE_DDS_INDEXED
    if os.environ.get("ROS_DISTRO") == "humble":
        os.environ["ROS_LOCALHOST_ONLY"] = "0"
    else:
        os.environ["ROS_AUTOMATIC_DISCOVERY_RANGE"] = "SUBNET"


def make_keystore(options, work):
    keystore = work / "keystore"
    programs = Path(options.install) / "kestrava_arm_bt_tools/lib/kestrava_arm_bt_tools"
    subprocess.run([str(programs / "make-keystore.sh"), str(keystore)], check=True,
                   stdout=subprocess.DEVNULL)
    return keystore


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--install", required=True,
                        help="the workspace's install folder, with the packages built")
    parser.add_argument("--rmw", default=os.environ.get("RMW_IMPLEMENTATION", "rmw_fastrtps_cpp"))
    parser.add_argument("--domain", type=int, default=42, help="the ROS domain of both machines")
    parser.add_argument("--security", choices=("plain", "sros2"), default="plain",
                        help="without security, or under SROS2 (Enforce)")
    options = parser.parse_args()

    os.environ.update(RMW_IMPLEMENTATION=options.rmw, ROS_DOMAIN_ID=str(options.domain),
                      SPDLOG_STDOUT="true", SPDLOG_SYSTEMD="false")
    discovery_settings()
    network = Network(f"kestrava{os.getpid()}")
    with tempfile.TemporaryDirectory(prefix="kestrava-two-machines.") as work_dir:
        work = Path(work_dir)
        if options.rmw == "rmw_fastrtps_cpp":
            profile = work / "fastdds_udp_only.xml"
            profile.write_text(FAST_DDS_UDP_ONLY)
            os.environ["FASTRTPS_DEFAULT_PROFILES_FILE"] = str(profile)
        keystore = make_keystore(options, work) if options.security == "sros2" else None
        trials = TwoMachineTrials(options, work, network, keystore)
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
        try:
            network.create(options.domain)
            plan = [("fresh_hosts", f"{FRESH_HOSTS} hosts across the link, then the check",
                     trials.fresh_hosts),
                    ("intruders", "forged answers from a third machine", trials.intruders),
                    ("link_cut", "the link cut for 3 s, then restored", trials.link_cut)]
            for name, description, body in plan:
                trials.run_trial(f"{name} ({options.security})", description, body)
        finally:
            trials.stop_all()
            network.remove()
    return trials.summarise(f"{options.rmw} ({options.security})", len(plan))


if __name__ == "__main__":
    sys.exit(main())
