#include "tools/ledsim/topology.h"

#include <nlohmann/json.hpp>

namespace ledsim {

Topology DefaultTopology() {
    Topology t;
    for (uint16_t p = 0; p < 2; ++p) {
        PortSpec port;
        port.row_offset = static_cast<uint16_t>(p * 256);
        for (uint16_t c = 0; c < 4; ++c) {
            port.cards.push_back(CardSpec{0, static_cast<uint16_t>(c * 256), 256, 256});
        }
        t.ports.push_back(port);
    }
    return t;
}

namespace {

bool Field(const nlohmann::json& object, const char* key, uint16_t& out, std::string& error,
           const std::string& where) {
    if (!object.contains(key)) {
        out = 0;
        return true;
    }
    const nlohmann::json& v = object[key];
    if (!v.is_number_integer() || v.get<int64_t>() < 0 || v.get<int64_t>() > 65535) {
        error = where + ": \"" + key + "\" must be a whole number from 0 to 65535";
        return false;
    }
    out = static_cast<uint16_t>(v.get<int64_t>());
    return true;
}

} // namespace

bool ParseTopology(const std::string& json, Topology& out, std::string& error) {
    const nlohmann::json doc = nlohmann::json::parse(json, nullptr, false);
    if (doc.is_discarded() || !doc.is_object() || !doc.contains("ports") || !doc["ports"].is_array()) {
        error = "a topology is a JSON object with an array \"ports\"";
        return false;
    }
    Topology t;
    const nlohmann::json& ports = doc["ports"];
    if (ports.size() > kMaxPorts) {
        error = "at most 16 ports";
        return false;
    }
    for (size_t p = 0; p < ports.size(); ++p) {
        const nlohmann::json& jp = ports[p];
        const std::string where = "port " + std::to_string(p);
        if (!jp.is_object() || !jp.contains("cards") || !jp["cards"].is_array()) {
            error = where + ": an object with an array \"cards\"";
            return false;
        }
        PortSpec port;
        if (!Field(jp, "row_offset", port.row_offset, error, where) ||
            !Field(jp, "column_offset", port.column_offset, error, where)) {
            return false;
        }
        if (jp["cards"].size() > kMaxCardsPerPort) {
            error = where + ": too many cards";
            return false;
        }
        for (size_t c = 0; c < jp["cards"].size(); ++c) {
            const nlohmann::json& jc = jp["cards"][c];
            const std::string at = where + " card " + std::to_string(c);
            if (!jc.is_object()) {
                error = at + ": an object";
                return false;
            }
            CardSpec card;
            if (!Field(jc, "row", card.row, error, at) || !Field(jc, "column", card.column, error, at) ||
                !Field(jc, "rows", card.rows, error, at) || !Field(jc, "columns", card.columns, error, at)) {
                return false;
            }
            const uint64_t stride = (static_cast<uint64_t>(card.columns) + 3) / 4 * 4;
            if (stride * card.rows > kMaxCardBytes) {
                error = at + ": larger than the simulator's coefficient memory";
                return false;
            }
            port.cards.push_back(card);
        }
        t.ports.push_back(std::move(port));
    }
    out = std::move(t);
    return true;
}

} // namespace ledsim
