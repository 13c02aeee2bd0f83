// The JSON reader and writer. Any text may be read; whatever tree comes out and holds no empty value (the
// writer writes an empty value as nothing, which cannot read back) must survive the round trip: the text
// written from it reads as the same tree, without complaints, and writes as the same text again.
//
// Input: UTF-8 text (invalid sequences read as U+FFFD, as the cache file's reader does).
#include "FuzzSupport.h"
#include "VbError.h"
#include "json.h"

namespace {

bool holdsEmpty(const JsonValue& v) {
    switch (v.kind()) {
    case JsonValue::Kind::Empty:
        return true;
    case JsonValue::Kind::Array:
        for (const JsonValue& item : v.array())
            if (holdsEmpty(item))
                return true;
        return false;
    case JsonValue::Kind::Object:
        for (const JsonMember& member : v.object())
            if (holdsEmpty(member.value))
                return true;
        return false;
    default:
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<JsonValue> root = json::JsonParse(text);
    if (!root) {
        if (json::JsonParseErrors() != QLatin1String("Invalid JSON"))
            FuzzSupport::violated("a text without a root complains \"Invalid JSON\"",
                                  json::JsonParseErrors());
        return 0;
    }
    if (!root->isObject() && !root->isArray())
        FuzzSupport::violated("the root is an object or an array");

    QString written;
    try {
        written = json::JsonToText(*root);
    } catch (const VbError& e) {
        // The writer's format cannot hold arrays of 32,767 elements or more.
        if (e.number() != VbErrors::Overflow)
            FuzzSupport::violated("the writer fails with overflow only", e.description());
        return 0;
    }
    if (holdsEmpty(*root))
        return 0;

    const std::optional<JsonValue> again = json::JsonParse(written);
    if (!again || !(*again == *root))
        FuzzSupport::violated("the written text reads as the same tree", written);
    if (!json::JsonParseErrors().isEmpty())
        FuzzSupport::violated("the written text reads without complaints",
                              written + QStringLiteral("\n") + json::JsonParseErrors());
    if (json::JsonToText(*again) != written)
        FuzzSupport::violated("the tree read back writes the same text", written);
    return 0;
}
