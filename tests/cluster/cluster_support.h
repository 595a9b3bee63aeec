#pragma once

#include <map>
#include <string>

namespace kestrix::test {

// What tools/pgcluster wrote about the cluster of this test run. Throws
// when there is none: these tests fail, never skip, without it.
std::map<std::string, std::string> clusterValues();

// The connection string of the cluster (every server, the one that writes
// chosen) for another database on it.
std::string clusterDatabase(const std::string& database);

}  // namespace kestrix::test
