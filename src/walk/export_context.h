#pragma once

#include "code_page/code_page.h"
#include "registry/registry.h"
#include "stream/byte_sink.h"
#include "stream/text_stream.h"
#include "walk/buffer_source.h"

#include <string_view>

namespace hivedump {

/// What the walk reads from and writes to, for one run.
struct ExportContext {
    registry::Registry& registry;
    TextStream& stream;
    ByteSink& console;
    CodePage code_page;
    BufferSource& buffers = heap_buffers();

    void say(std::string_view message) const { console.write({ message.data(), message.size() }); }
};

} // namespace hivedump
