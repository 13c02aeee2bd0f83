// The version of an update program, in the form the launcher reads with GetFileVer: the block of a Windows
// version resource (16-bit units: header of length, value length and type, key, padding, value), kept in an
// ELF note of owner "ZEPJOB", type 1. Each program compiles this file with its own name and the tools' build
// number.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#if !defined(ZEPJOB_TOOL_NAME) || !defined(ZEPJOB_UPDATE_TOOLS_BUILD)
#error "ZEPJOB_TOOL_NAME and ZEPJOB_UPDATE_TOOLS_BUILD must be defined by the build"
#endif

namespace {

#define ZEPJOB_WIDE_(x) u##x
#define ZEPJOB_WIDE(x) ZEPJOB_WIDE_(x)
constexpr std::u16string_view ToolName = ZEPJOB_WIDE(ZEPJOB_TOOL_NAME);
constexpr unsigned Build = ZEPJOB_UPDATE_TOOLS_BUILD;

constexpr std::size_t Capacity = 1024;

struct Block {
    std::array<char16_t, Capacity> units{};
    std::size_t size = 0;

    constexpr void put(char16_t unit) { units[size++] = unit; }
    constexpr void put32(std::uint32_t value) {
        put(char16_t(value & 0xFFFF));
        put(char16_t(value >> 16));
    }
    constexpr void text(std::u16string_view s) {
        for (char16_t c : s)
            put(c);
        put(0);
    }
    // Entries start on 32-bit boundaries.
    constexpr void align() {
        if (size % 2)
            put(0);
    }
    // Opens an entry: its length is filled in by close().
    constexpr std::size_t open(std::u16string_view key, char16_t valueLength, char16_t type) {
        align();
        const std::size_t at = size;
        put(0);
        put(valueLength);
        put(type);
        text(key);
        align();
        return at;
    }
    constexpr void close(std::size_t at) { units[at] = char16_t((size - at) * 2); }

    constexpr void string(std::u16string_view key, std::u16string_view value) {
        const std::size_t at = open(key, char16_t(value.size() + 1), 1);
        text(value);
        close(at);
    }
};

// "1.0.0." + the build number.
struct VersionText {
    std::array<char16_t, 32> units{};
    std::size_t size = 0;
    constexpr VersionText() {
        for (char16_t c : std::u16string_view(u"1.0.0."))
            units[size++] = c;
        char16_t digits[12] = {};
        std::size_t n = 0;
        unsigned value = Build;
        do {
            digits[n++] = char16_t(u'0' + value % 10);
            value /= 10;
        } while (value);
        while (n)
            units[size++] = digits[--n];
    }
    constexpr std::u16string_view view() const { return {units.data(), size}; }
};

constexpr Block makeBlock() {
    constexpr VersionText version;
    Block b;
    const std::size_t root = b.open(u"VS_VERSION_INFO", 52, 0);
    // The fixed file information: signature, structure version, file and product version 1.0.0.build, flags
    // mask, flags, OS (unknown), type (application), subtype, date.
    for (std::uint32_t value :
         {0xFEEF04BDu, 0x00010000u, 0x00010000u, Build, 0x00010000u, Build, 0x3Fu, 0u, 0u, 1u, 0u, 0u, 0u})
        b.put32(value);
    const std::size_t stringInfo = b.open(u"StringFileInfo", 0, 1);
    const std::size_t table = b.open(u"041204B0", 0, 1);
    b.string(u"FileDescription",
             ToolName == u"VerProbeV1" ? u"ClientZEP_job update checker" : u"ClientZEP_job file changer");
    b.string(u"FileVersion", version.view());
    b.string(u"InternalName", ToolName);
    b.string(u"ProductName", u"ClientZEP_job");
    b.string(u"ProductVersion", version.view());
    b.close(table);
    b.close(stringInfo);
    const std::size_t varInfo = b.open(u"VarFileInfo", 0, 1);
    const std::size_t translation = b.open(u"Translation", 4, 0);
    b.put(0x0412);
    b.put(0x04B0);
    b.close(translation);
    b.close(varInfo);
    b.close(root);
    b.align();
    return b;
}

constexpr Block VersionBlock = makeBlock();
constexpr std::size_t Units = VersionBlock.size;

struct Note {
    std::uint32_t nameSize;
    std::uint32_t descriptorSize;
    std::uint32_t type;
    char name[8];
    char16_t descriptor[Units];
};

constexpr Note makeNote() {
    Note note{7, std::uint32_t(Units * 2), 1, {'Z', 'E', 'P', 'J', 'O', 'B', 0, 0}, {}};
    for (std::size_t i = 0; i < Units; ++i)
        note.descriptor[i] = VersionBlock.units[i];
    return note;
}

// A section whose name starts with ".note" becomes an ELF note in a note segment of the program.
[[gnu::used, gnu::section(".note.zepjob.version"), gnu::aligned(4)]] const Note VersionNote = makeNote();

} // namespace
