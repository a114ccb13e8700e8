#include "kestrava_arm_testing/strict_parsers.hpp"

#include <vector>

#include "kestrava_arm_testing/child_process.hpp"

namespace kestrava::test {
namespace {

constexpr const char* kJsonCheck = R"(
import json, sys
json.load(open(sys.argv[1], encoding="utf-8"))
)";

constexpr const char* kJunitCheck = R"(
import sys, xml.dom.minidom
document = xml.dom.minidom.parse(sys.argv[1])
required = {
    "testsuite": ["name", "tests", "failures", "errors", "time", "timestamp", "hostname"],
    "testcase": ["name", "classname", "time"],
    "failure": ["type"],
}
for element, attributes in required.items():
    for node in document.getElementsByTagName(element):
        missing = [a for a in attributes if not node.hasAttribute(a)]
        if missing:
            sys.exit(f"a {element} without {missing}")
)";

std::string Complaint(const char* script, const std::string& path) {
  const ChildOutput child = RunChild("python3", {"-c", script, path}, InheritedEnvironment({}, {}));
  return ExitStatusOf(child.wait_status) == 0 ? "" : "python3: " + child.out + child.err;
}

}  // namespace

std::string JsonComplaint(const std::string& path) {
  return Complaint(kJsonCheck, path);
}

std::string JunitComplaint(const std::string& path) {
  return Complaint(kJunitCheck, path);
}

}  // namespace kestrava::test
