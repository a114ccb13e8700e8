#pragma once

#include <string>

namespace kestrava::test {

// What python3's strict parsers say of a report file: empty when it is well formed, else their
// complaint. Both read the file as UTF-8 and refuse anything that is not.

// The json module, which also refuses control characters inside strings.
std::string JsonComplaint(const std::string& path);

// xml.dom.minidom, and the attributes that the common JUnit schemas require: of each test suite
// name, tests, failures, errors, time, timestamp and hostname; of each test case name, classname
// and time; of each failure its type.
std::string JunitComplaint(const std::string& path);

}  // namespace kestrava::test
