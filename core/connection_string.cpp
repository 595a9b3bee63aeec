#include "core/connection_string.h"

#include <cctype>
#include <vector>

namespace kestrix {

namespace {

std::string trim(std::string_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return std::string(text.substr(begin, end - begin));
}

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Reads one value starting at pos (after '='); leaves pos on the ';' or end.
std::string readValue(std::string_view text, size_t& pos) {
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])))
        ++pos;
    if (pos < text.size() && text[pos] == '"') {
        std::string value;
        ++pos;
        while (pos < text.size()) {
            if (text[pos] == '"') {
                if (pos + 1 < text.size() && text[pos + 1] == '"') {
                    value.push_back('"');
                    pos += 2;
                    continue;
                }
                ++pos;
                break;
            }
            value.push_back(text[pos++]);
        }
        while (pos < text.size() && text[pos] != ';')
            ++pos;
        return value;
    }
    const size_t end = text.find(';', pos);
    const size_t stop = end == std::string_view::npos ? text.size() : end;
    std::string value = trim(text.substr(pos, stop - pos));
    pos = stop;
    return value;
}

bool isTrue(const std::string& value) {
    const std::string v = lower(value);
    return v == "sspi" || v == "true" || v == "yes";
}

std::string get(const std::map<std::string, std::string>& pairs, const char* key) {
    const auto it = pairs.find(key);
    return it == pairs.end() ? std::string() : it->second;
}

// libpq conninfo values go in single quotes with \ and ' escaped.
std::string libpqValue(const std::string& value) {
    std::string out = "'";
    for (char c : value) {
        if (c == '\\' || c == '\'') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('\'');
    return out;
}

std::vector<std::string> splitList(std::string_view text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        items.push_back(trim(text.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start)));
        if (comma == std::string_view::npos) return items;
        start = comma + 1;
    }
}

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i)
        out += (i == 0 ? "" : ",") + items[i];
    return out;
}

struct Server {
    std::string host;
    std::string port;
};

// "host", "host:port", "[v6 address]" or "[v6 address]:port".
Server serverOf(const std::string& item) {
    if (item.starts_with('[')) {
        const std::size_t close = item.find(']');
        if (close != std::string::npos) {
            const std::string rest = trim(std::string_view(item).substr(close + 1));
            return {item.substr(1, close - 1),
                    rest.starts_with(':') ? trim(std::string_view(rest).substr(1)) : rest};
        }
    }
    const std::size_t colon = item.find(':');
    // A bare IPv6 address has several colons and no port.
    if (colon == std::string::npos || item.find(':', colon + 1) != std::string::npos)
        return {item, {}};
    return {trim(std::string_view(item).substr(0, colon)),
            trim(std::string_view(item).substr(colon + 1))};
}

// The servers named in the keyed form or in libpq's; an error text when
// they cannot be read.
std::string readServers(const std::map<std::string, std::string>& pairs,
                        std::vector<Server>& servers) {
    std::string source = get(pairs, "data source");
    if (source.empty()) source = get(pairs, "server");
    const std::string host = get(pairs, "host");
    const std::string port = get(pairs, "port");
    if (!source.empty() && (!host.empty() || !port.empty()))
        return "The connection string names its servers twice: give either Data Source (or "
               "Server) with host:port, or Host and Port.";
    if (host.empty() && port.empty()) {
        for (const std::string& item : splitList(source))
            servers.push_back(serverOf(item));
    } else {
        const std::vector<std::string> hosts = splitList(host);
        const std::vector<std::string> ports = splitList(port);
        if (ports.size() != 1 && ports.size() != hosts.size())
            return "The connection string names " + std::to_string(hosts.size()) + " hosts and " +
                   std::to_string(ports.size()) +
                   " ports: give one port for all of them, or one for each.";
        for (std::size_t i = 0; i < hosts.size(); ++i)
            servers.push_back({hosts[i], ports.size() == 1 ? ports[0] : ports[i]});
    }
    for (const Server& server : servers) {
        if (servers.size() > 1 && server.host.empty())
            return "The connection string names several servers, one of them empty.";
        for (char c : server.port) {
            if (!std::isdigit(static_cast<unsigned char>(c)))
                return "The port \"" + server.port + "\" of the server \"" + server.host +
                       "\" is not a number.";
        }
    }
    return {};
}

std::string parsePostgres(const std::map<std::string, std::string>& pairs,
                          ConnectionTarget& target) {
    target.engine = Engine::PostgreSQL;
    target.database = get(pairs, "initial catalog");
    if (target.database.empty()) target.database = get(pairs, "database");
    if (target.database.empty()) target.database = get(pairs, "dbname");
    target.integratedSecurity = isTrue(get(pairs, "integrated security"));
    target.user = get(pairs, "user id");
    if (target.user.empty()) target.user = get(pairs, "user");
    target.password = get(pairs, "password");

    std::vector<Server> servers;
    if (std::string error = readServers(pairs, servers); !error.empty()) return error;
    if (target.integratedSecurity) {
        target.user.clear();
        target.password.clear();
        if (servers.size() == 1 && lower(servers[0].host) == "localhost") servers[0].host.clear();
    }
    std::vector<std::string> hosts;
    std::vector<std::string> ports;
    bool anyPort = false;
    for (const Server& server : servers) {
        hosts.push_back(server.host);
        ports.push_back(server.port);
        anyPort = anyPort || !server.port.empty();
    }
    target.host = joined(hosts);
    if (anyPort) target.port = joined(ports);

    // Kestrix writes: of several servers, only the primary will do.
    std::string attributes = lower(get(pairs, "target_session_attrs"));
    if (attributes.empty()) attributes = lower(get(pairs, "target session attrs"));
    if (attributes.empty() && servers.size() > 1) attributes = "read-write";
    if (!attributes.empty() && attributes != "read-write" && attributes != "primary")
        return "target_session_attrs=" + attributes +
               " would let Kestrix use a server that cannot take its writes: give read-write "
               "(or primary).";
    target.sessionAttributes = attributes;
    if (target.database.empty())
        return "The connection string names no Initial Catalog (database).";
    return {};
}

}  // namespace

std::map<std::string, std::string> splitConnectionString(std::string_view text) {
    std::map<std::string, std::string> pairs;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t eq = text.find('=', pos);
        const size_t semi = text.find(';', pos);
        if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
            // A pair without '=' (or an empty pair): nothing to keep.
            if (semi == std::string_view::npos) break;
            pos = semi + 1;
            continue;
        }
        const std::string key = lower(trim(text.substr(pos, eq - pos)));
        pos = eq + 1;
        std::string value = readValue(text, pos);
        if (!key.empty()) pairs[key] = std::move(value);
        if (pos < text.size()) ++pos;  // past ';'
    }
    return pairs;
}

namespace {

bool isPasswordKey(std::string_view key) {
    const std::string name = lower(trim(key));
    return name == "password" || name == "pwd";
}

// Walks the pairs of a connection string as written: each pair's key and
// the value's text as it stands (quotes and all).
template <class OnPair>
void forEachPairText(std::string_view text, OnPair&& onPair) {
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t eq = text.find('=', pos);
        const size_t semi = text.find(';', pos);
        if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
            const size_t end = semi == std::string_view::npos ? text.size() : semi + 1;
            onPair(text.substr(pos, end - pos), std::string_view(), false);
            pos = end;
            continue;
        }
        size_t after = eq + 1;
        (void)readValue(text, after);
        onPair(text.substr(pos, eq + 1 - pos), text.substr(eq + 1, after - eq - 1), true);
        if (after < text.size()) {
            onPair(";", std::string_view(), false);
            ++after;
        }
        pos = after;
    }
}

// The text with the value of every password pair replaced by `value`.
std::string withPasswordText(std::string_view text, std::string_view value) {
    std::string out;
    forEachPairText(text, [&](std::string_view head, std::string_view pairValue, bool isPair) {
        out += head;
        if (isPair) out += isPasswordKey(head.substr(0, head.size() - 1)) ? value : pairValue;
    });
    return out;
}

// The password's value as written in the text, quotes and all.
std::string passwordText(std::string_view text) {
    std::string found;
    forEachPairText(text, [&](std::string_view head, std::string_view pairValue, bool isPair) {
        if (isPair && isPasswordKey(head.substr(0, head.size() - 1))) found = pairValue;
    });
    return found;
}

}  // namespace

std::string maskedConnectionString(std::string_view text) {
    return withPasswordText(text, kMaskedPassword);
}

std::string unmaskedConnectionString(std::string_view edited, std::string_view original) {
    const auto pairs = splitConnectionString(edited);
    std::string password;
    for (const char* key : {"password", "pwd"}) {
        if (pairs.contains(key)) password = pairs.at(key);
    }
    if (password != kMaskedPassword) return std::string(edited);
    return withPasswordText(edited, passwordText(original));
}

ParsedConnection parseConnectionString(std::string_view text) {
    const auto pairs = splitConnectionString(text);
    const std::string provider = get(pairs, "provider");
    const std::string name = lower(provider);
    ConnectionTarget target;
    std::string error;
    if (name == "sqlite") {
        target.engine = Engine::SQLite;
        target.path = get(pairs, "data source");
        if (target.path.empty())
            error = "The connection string names no Data Source (database file).";
    } else if (name == "postgresql") {
        error = parsePostgres(pairs, target);
    } else if (provider.empty()) {
        error =
            "The connection string names no provider. This platform offers Provider=SQLite (a "
            "database file) and Provider=PostgreSQL (a database server).";
    } else {
        error = "The provider \"" + provider +
                "\" is not available on this platform. This platform offers Provider=SQLite (a "
                "database file) and Provider=PostgreSQL (a database server).";
    }
    if (!error.empty()) return {std::nullopt, error};
    return {target, {}};
}

std::string connectionStringProblem(std::string_view text) {
    const ParsedConnection parsed = parseConnectionString(text);
    if (!parsed.target) return parsed.error;
    if (parsed.target->engine == Engine::SQLite && !parsed.target->path.starts_with('/'))
        return "The database file \"" + parsed.target->path +
               "\" is not a full path: give it from the root (Data Source=/...), so that "
               "every program finds the same file.";
    return {};
}

std::string dataSource(const ConnectionTarget& target) {
    const std::vector<std::string> hosts = splitList(target.host);
    const std::vector<std::string> ports = splitList(target.port);
    std::string out;
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        const std::string& port = ports.size() == hosts.size() ? ports[i] : ports[0];
        const std::string& host = hosts[i];
        out += (i == 0 ? "" : ",") +
               (host.find(':') != std::string::npos ? "[" + host + "]" : host) +
               (port.empty() ? "" : ":" + port);
    }
    return out;
}

std::string sociConnectString(const ConnectionTarget& target, const TimeLimits& limits) {
    if (target.engine == Engine::SQLite) {
        // SOCI reads a double-quoted value up to the next double quote.
        return "dbname=\"" + target.path + "\" timeout=" + std::to_string(limits.busySeconds);
    }
    std::string out = "connect_timeout=" + std::to_string(limits.connectSeconds) +
                      " keepalives=1 keepalives_idle=5 keepalives_interval=2 keepalives_count=3";
    if (limits.statementMilliseconds > 0) {
        out += " options=" +
               libpqValue("-c statement_timeout=" + std::to_string(limits.statementMilliseconds));
    }
    auto add = [&out](const char* key, const std::string& value) {
        if (!value.empty()) out += std::string(" ") + key + "=" + libpqValue(value);
    };
    add("host", target.host);
    add("port", target.port);
    add("target_session_attrs", target.sessionAttributes);
    add("dbname", target.database);
    add("user", target.user);
    add("password", target.password);
    return out;
}

}  // namespace kestrix
