#include "client/cli/DeviceList.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "client/cli/JsonValue.h"
#include "client/velomark_client.h"

namespace velomark {

namespace {

using Row = std::vector<std::string>;

constexpr double kMillimetresPerUnit = 25.4 / 1200;

// Display columns of a UTF-8 text: one per character.
size_t Columns(const std::string& text) {
    size_t columns = 0;
    for (unsigned char c : text) columns += (c & 0xC0) != 0x80;
    return columns;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.10g", value);
    return text;
}

// The names of a list member, joined; "auto" when the source lists none (it
// decides). The colour "rgb" is shown as --mode takes it: "color".
std::string Names(const JsonValue& source, const char* member) {
    const JsonValue* list = source.Member(member);
    std::string joined;
    if (list && list->Is(JsonValue::Type::Array)) {
        for (const JsonValue& item : list->items) {
            if (!item.Is(JsonValue::Type::String)) continue;
            if (!joined.empty()) joined += ",";
            joined += item.text == "rgb" ? "color" : item.text;
        }
    }
    return joined.empty() ? "auto" : joined;
}

// "25-1200", "75-600 by 75", or "75,150,300".
std::string Resolutions(const JsonValue& source) {
    const JsonValue* resolutions = source.Member("resolutions");
    if (!resolutions || !resolutions->Is(JsonValue::Type::Object)) return "-";
    if (const JsonValue* list = resolutions->Member("list");
        list && list->Is(JsonValue::Type::Array)) {
        std::string joined;
        for (const JsonValue& item : list->items)
            if (item.Is(JsonValue::Type::Number))
                joined += (joined.empty() ? "" : ",") + Number(item.number);
        return joined.empty() ? "-" : joined;
    }
    const double low = resolutions->NumberOr("min", NAN);
    const double high = resolutions->NumberOr("max", NAN);
    const double step = resolutions->NumberOr("step", 1);
    if (std::isnan(low) || std::isnan(high)) return "-";
    std::string range = Number(low) + "-" + Number(high);
    if (step != 1 && step > 0) range += " by " + Number(step);
    return range;
}

std::string Bed(const JsonValue& source) {
    const JsonValue* bed = source.Member("bed");
    if (!bed || !bed->Is(JsonValue::Type::Object)) return "-";
    const double width = bed->NumberOr("width", NAN);
    const double height = bed->NumberOr("height", NAN);
    if (std::isnan(width) || std::isnan(height)) return "-";
    char text[64];
    std::snprintf(text, sizeof(text), "%.1f x %.1f", width * kMillimetresPerUnit,
                  height * kMillimetresPerUnit);
    return text;
}

Row SourceRow(const JsonValue& source) {
    const JsonValue* name = source.Member("name");
    const JsonValue* isDefault = source.Member("default");
    std::string title = name && name->Is(JsonValue::Type::String) ? name->text : "?";
    if (isDefault && isDefault->Is(JsonValue::Type::Bool) && isDefault->boolean)
        title += " (default)";
    const JsonValue* error = source.Member("error");
    if (error && error->Is(JsonValue::Type::String)) return {title, "error: " + error->text};
    return {title, Names(source, "inputs"), Names(source, "colors"), Resolutions(source),
            Bed(source)};
}

std::string Format(const std::vector<Row>& rows) {
    std::vector<size_t> widths;
    for (const Row& row : rows) {
        // A row with fewer cells (a source with an error) lets its last cell run on.
        for (size_t i = 0; i + 1 < row.size(); ++i) {
            if (widths.size() <= i) widths.push_back(0);
            widths[i] = std::max(widths[i], Columns(row[i]));
        }
    }
    std::string out;
    for (const Row& row : rows) {
        for (size_t i = 0; i < row.size(); ++i) {
            out += row[i];
            if (i + 1 < row.size()) out += std::string(widths[i] - Columns(row[i]) + 2, ' ');
        }
        out += "\n";
    }
    return out;
}

}  // namespace

bool DeviceList::Table(const std::string& json, std::string& table, std::string& error) {
    JsonValue document;
    if (!JsonValue::Parse(json, document, error)) {
        error = "the list of sources is not JSON: " + error;
        return false;
    }
    const JsonValue* sources = document.Member("sources");
    if (!sources || !sources->Is(JsonValue::Type::Array)) {
        error = "the document has no \"sources\" list";
        return false;
    }
    std::vector<Row> rows = {{"SOURCE", "INPUTS", "MODES", "DPI", "BED (mm)"}};
    for (const JsonValue& source : sources->items)
        if (source.Is(JsonValue::Type::Object)) rows.push_back(SourceRow(source));
    table = Format(rows);
    return true;
}

int DeviceList::Run(velomark_client* client, const ClientCommandLine& commandLine) {
    char* json = nullptr;
    velomark_result result = velomark_devices(client, &json, commandLine.timeoutMs);
    if (result != VELOMARK_OK) {
        const char* detail = velomark_last_error(client);
        std::fprintf(stderr, "velomark-client: devices: %s%s%s\n", velomark_result_text(result),
                     *detail ? ": " : "", detail);
        switch (result) {
            case VELOMARK_E_NOT_RUNNING: return EXIT_NOT_RUNNING;
            case VELOMARK_E_TIMEOUT: return EXIT_TIMED_OUT;
            case VELOMARK_E_REFUSED: return EXIT_REFUSED;
            default: return EXIT_FAILED;
        }
    }
    const std::string document = json;
    velomark_free_text(json);
    if (commandLine.json) {
        std::fputs(document.c_str(), stdout);
        if (document.back() != '\n') std::fputs("\n", stdout);
        return EXIT_OK;
    }
    std::string table;
    std::string error;
    if (!Table(document, table, error)) {
        std::fprintf(stderr, "velomark-client: devices: %s\n", error.c_str());
        return EXIT_FAILED;
    }
    std::fputs(table.c_str(), stdout);
    return EXIT_OK;
}

}  // namespace velomark
