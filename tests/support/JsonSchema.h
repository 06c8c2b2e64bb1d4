#pragma once
// A focused JSON Schema check for the tests: the keywords the project's
// schemas use ($ref into #/$defs, type, enum, const, properties, required,
// additionalProperties, items, oneOf, anyOf, minimum, maximum, pattern).
// Any other keyword is reported as a violation, so that a schema cannot
// outgrow the check unnoticed.
#include <string>

#include <nlohmann/json.hpp>

namespace vantrel::test {

// Why `value` does not satisfy `schema` (with the path to the offending
// member); empty when it does.
std::string SchemaViolation(const nlohmann::json& schema, const nlohmann::json& value);

// The schema of the event stream, docs/events.schema.json.
nlohmann::json EventSchema();

}  // namespace vantrel::test
