#include "tests/cluster/cluster_support.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace kestrix::test {

std::map<std::string, std::string> clusterValues() {
    const char* file = std::getenv("KESTRIX_PGCLUSTER_ENV");
    if (file == nullptr)
        throw std::runtime_error("KESTRIX_PGCLUSTER_ENV is not set: run the tests through ctest");
    std::ifstream in(file);
    if (!in)
        throw std::runtime_error(std::string("no PostgreSQL cluster: ") + file +
                                 " is missing (tools/pgcluster start failed?)");
    std::map<std::string, std::string> values;
    for (std::string line; std::getline(in, line);) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'')
            value = value.substr(1, value.size() - 2);
        values[line.substr(0, eq)] = value;
    }
    if (values["KESTRIX_PGCLUSTER_CONNECTION_STRING"].empty())
        throw std::runtime_error(std::string(file) + " names no cluster");
    return values;
}

std::string clusterDatabase(const std::string& database) {
    auto values = clusterValues();
    std::string connection = values["KESTRIX_PGCLUSTER_CONNECTION_STRING"];
    const std::string catalog = "Initial Catalog=" + values["KESTRIX_PGCLUSTER_DATABASE"];
    const auto at = connection.find(catalog);
    if (at == std::string::npos)
        throw std::runtime_error("the cluster's connection string names no database");
    return connection.replace(at, catalog.size(), "Initial Catalog=" + database);
}

}  // namespace kestrix::test
