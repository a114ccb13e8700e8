#!/usr/bin/env python3
"""Writes the SROS2 policy of the perception link for the names a robot uses: the policy file with
the host's and the perception service's profiles bound to the node names given, the service
renamed (with its event topic), the check's enclave left out if asked, and its includes resolved,
so that the file written is the whole policy signed. Called by make-keystore.sh; an option not given leaves what
the policy says.
"""
import argparse
import re
import sys

from lxml import etree

HOST_ENCLAVE = "/kestrava/bt_host"
PERCEPTION_ENCLAVE = "/kestrava/perception"
CHECK_ENCLAVE = "/kestrava/check"
NAME_PART = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")
EVENT_TOPIC_SUFFIX = "/_service_event"
XML_BASE = "{http://www.w3.org/XML/1998/namespace}base"


def fully_qualified(kind):
    """An argparse type: a name such as /robot1/toilet_perception."""

    def parse(text):
        parts = text.split("/")
        if parts[0] != "" or not all(NAME_PART.fullmatch(part) for part in parts[1:]):
            raise argparse.ArgumentTypeError(
                f"{kind} '{text}' is not fully qualified (like /robot1/toilet_perception)")
        return text

    return parse


def enclave(policy, path):
    found = policy.xpath("/policy/enclaves/enclave[@path=$path]", path=path)
    if not found:
        sys.exit(f"write-policy: the policy has no enclave {path}")
    return found[0]


def bind_node(policy, path, name):
    namespace, node = name.rsplit("/", 1)
    for profile in enclave(policy, path).iter("profile"):
        profile.set("ns", namespace or "/")
        profile.set("node", node)


def rename_service(policy, service):
    # The service elements of the policy itself: those of the includes name each node's own.
    for element in policy.iter("service"):
        element.text = service
    # The service's event topic, whose name ROS 2 derives from the service's.
    for element in policy.iter("topic"):
        if element.text.endswith(EVENT_TOPIC_SUFFIX):
            element.text = service + EVENT_TOPIC_SUFFIX


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("policy", help="the policy to start from")
    parser.add_argument("output", help="where to write the policy for the names given")
    parser.add_argument("--host", type=fully_qualified("node name"))
    parser.add_argument("--perception", type=fully_qualified("node name"))
    parser.add_argument("--service", type=fully_qualified("service name"))
    parser.add_argument("--no-check", action="store_true")
    options = parser.parse_args()

    tree = etree.parse(options.policy, etree.XMLParser(remove_blank_text=True))
    policy = tree.getroot()
    if options.host:
        bind_node(policy, HOST_ENCLAVE, options.host)
    if options.perception:
        bind_node(policy, PERCEPTION_ENCLAVE, options.perception)
    if options.service:
        rename_service(policy, options.service)
    if options.no_check:
        check = enclave(policy, CHECK_ENCLAVE)
        check.getparent().remove(check)
    tree.xinclude()
    # Where each included part came from, relative to a file the keystore does not hold.
    for element in policy.iter():
        element.attrib.pop(XML_BASE, None)
    tree.write(options.output, xml_declaration=True, encoding="UTF-8", pretty_print=True)


if __name__ == "__main__":
    main()
