#include "stream/InputKinds.h"

#include <array>

#include "stream/FileSource.h"
#include "stream/NetworkKind.h"
#include "stream/PipeKind.h"
#include "stream/SocketReader.h"
#include "stream/StreamReader.h"
#ifdef IQFEEDER_HAVE_SRT
#include "stream/SrtReader.h"
#endif

namespace iqfeeder {
namespace {

template <typename Reader>
std::unique_ptr<InputKind> makeNetwork(const InputSeams& seams, const KindRequest& request) {
    return std::make_unique<NetworkKind>(
        seams,
        std::make_unique<Reader>(*request.network, request.path, seams.console, seams.diagnostics,
                                 request.networkSettings),
        request.path);
}

std::unique_ptr<InputKind> makePipe(const InputSeams& seams, const KindRequest& request) {
    return std::make_unique<PipeKind>(seams, request.path);
}

std::unique_ptr<InputKind> makeFile(const InputSeams& seams, const KindRequest& request) {
    return std::make_unique<LiveFileKind>(FileSource(seams, request.path, request.limits),
                                          request.live);
}

bool isStream(const KindRequest& request) {
    return isStreamPath(request.path);
}

bool always(const KindRequest& /*request*/) {
    return true;
}

constexpr std::array kRows{
    KindRow{"tcp", nullptr, makeNetwork<SocketReader>},
    KindRow{"udp", nullptr, makeNetwork<SocketReader>},
#ifdef IQFEEDER_HAVE_SRT
    KindRow{"srt", nullptr, makeNetwork<SrtReader>},
#endif
    KindRow{nullptr, isStream, makePipe},  // standard input, a FIFO, a named pipe
    KindRow{nullptr, always, makeFile},    // a recording or a live file: the probe tells
};

}  // namespace

std::span<const KindRow> inputKinds() {
    return kRows;
}

std::unique_ptr<InputKind> chooseInputKind(const InputSeams& seams, const KindRequest& request) {
    for (const KindRow& row : kRows) {
        const bool taken = row.scheme != nullptr
                               ? request.network != nullptr &&
                                     request.path.starts_with(std::string(row.scheme) + "://")
                               : request.network == nullptr && row.takes(request);
        if (taken) {
            return row.make(seams, request);
        }
    }
    return nullptr;  // the last row takes every path
}

}  // namespace iqfeeder
