#include "tools/ledsim/topology.h"

#include <nlohmann/json.hpp>

#include <algorithm>

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
    t.wall.module_width = 64;
    t.wall.module_height = 32;
    t.wall.random = true;
    t.wall.seed = 20261206;
    t.wall.low = 0.9f;
    t.wall.high = 1.1f;
    t.wall.share = 0.05;
    return t;
}

void TopologyExtent(const Topology& topology, uint32_t& width, uint32_t& height) {
    width = height = 0;
    for (const PortSpec& port : topology.ports) {
        for (const CardSpec& card : port.cards) {
            width = std::max<uint32_t>(width, static_cast<uint32_t>(port.column_offset) + card.column +
                                                  card.columns);
            height =
                std::max<uint32_t>(height, static_cast<uint32_t>(port.row_offset) + card.row + card.rows);
        }
    }
}

uint64_t TopologyMemory(const Topology& topology) {
    uint64_t bytes = 0;
    for (const PortSpec& port : topology.ports) {
        for (const CardSpec& card : port.cards) {
            bytes += 2 * ((static_cast<uint64_t>(card.columns) + 3) / 4 * 4) * card.rows;
        }
    }
    if (topology.wall.module_width != 0 && topology.wall.module_height != 0) {
        uint32_t width = 0;
        uint32_t height = 0;
        TopologyExtent(topology, width, height);
        const uint64_t columns =
            (static_cast<uint64_t>(width) + topology.wall.module_width - 1) / topology.wall.module_width;
        const uint64_t rows =
            (static_cast<uint64_t>(height) + topology.wall.module_height - 1) / topology.wall.module_height;
        bytes += 8 * columns * rows;
    }
    return bytes;
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

bool Number(const nlohmann::json& object, const char* key, double low, double high, double& out,
            std::string& error, const std::string& where) {
    if (!object.contains(key)) {
        return true;
    }
    const nlohmann::json& v = object[key];
    if (!v.is_number() || v.get<double>() < low || v.get<double>() > high) {
        error = where + ": \"" + key + "\" must be a number from " + std::to_string(low) + " to " +
                std::to_string(high);
        return false;
    }
    out = v.get<double>();
    return true;
}

// "wall": {"module_width": 64, "module_height": 32,
//          "random": {"seed": 7, "low": 0.92, "high": 1.08, "share": 0.05},
//          "joins": [{"column": 3, "row": 1, "side": "right" or "below", "factor": 1.05}]}
bool ParseWall(const nlohmann::json& jw, WallDescription& wall, std::string& error) {
    const std::string where = "wall";
    if (!jw.is_object()) {
        error = "\"wall\" must be an object";
        return false;
    }
    if (!Field(jw, "module_width", wall.module_width, error, where) ||
        !Field(jw, "module_height", wall.module_height, error, where)) {
        return false;
    }
    if ((wall.module_width == 0) != (wall.module_height == 0)) {
        error = "wall: give both module sizes";
        return false;
    }
    if (jw.contains("random")) {
        const nlohmann::json& jr = jw["random"];
        double seed = 0, low = 1, high = 1, share = 1;
        if (!jr.is_object() || !Number(jr, "seed", 0, 9007199254740991.0, seed, error, "wall random") ||
            !Number(jr, "low", 0.1, 10, low, error, "wall random") ||
            !Number(jr, "high", 0.1, 10, high, error, "wall random") ||
            !Number(jr, "share", 0, 1, share, error, "wall random")) {
            if (error.empty()) {
                error = "wall: \"random\" must be an object";
            }
            return false;
        }
        wall.random = true;
        wall.seed = static_cast<uint64_t>(seed);
        wall.low = static_cast<float>(std::min(low, high));
        wall.high = static_cast<float>(std::max(low, high));
        wall.share = share;
    }
    if (jw.contains("joins")) {
        if (!jw["joins"].is_array()) {
            error = "wall: \"joins\" must be an array";
            return false;
        }
        for (size_t i = 0; i < jw["joins"].size(); ++i) {
            const nlohmann::json& jj = jw["joins"][i];
            const std::string at = "wall join " + std::to_string(i);
            JoinFactor join;
            uint16_t column = 0, row = 0;
            double factor = 1.0;
            if (!jj.is_object() || !jj.contains("side") || !jj["side"].is_string() ||
                (jj["side"] != "right" && jj["side"] != "below")) {
                error = at + ": an object with \"side\" \"right\" or \"below\"";
                return false;
            }
            if (!Field(jj, "column", column, error, at) || !Field(jj, "row", row, error, at) ||
                !Number(jj, "factor", 0.1, 10, factor, error, at)) {
                return false;
            }
            join.column = column;
            join.row = row;
            join.below = jj["side"] == "below";
            join.factor = static_cast<float>(factor);
            wall.joins.push_back(join);
        }
    }
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
            card.misreports = jc.contains("reported_rows") || jc.contains("reported_columns");
            if (!Field(jc, "reported_rows", card.reported_rows, error, at) ||
                !Field(jc, "reported_columns", card.reported_columns, error, at)) {
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
    if (doc.contains("wall") && !ParseWall(doc["wall"], t.wall, error)) {
        return false;
    }
    out = std::move(t);
    return true;
}

} // namespace ledsim
