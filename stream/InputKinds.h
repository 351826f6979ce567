// The kinds of input, as a table: a row says which operands are of its kind (a URL's scheme,
// or a probe of the path) and makes the kind. The first row that takes the operand makes it; a
// new kind is its own file and one row here.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "stream/InputKind.h"
#include "stream/LiveFileKind.h"
#include "stream/NetworkOperand.h"
#include "stream/NetworkReader.h"
#include "stream/RunState.h"

namespace iqfeeder {

// What the operator asked of the input, as the kinds need it.
struct KindRequest {
    std::string path;                         // the operand, as the run's lines name it
    const NetworkOperand* network = nullptr;  // the operand read as a URL, if it is one
    FileLimits limits;
    LiveFileOptions live;
    NetworkSettings networkSettings;
};

struct KindRow {
    const char* scheme;                         // a URL's, or null
    bool (*takes)(const KindRequest& request);  // the probe, when there is no scheme
    std::unique_ptr<InputKind> (*make)(const InputSeams& seams, const KindRequest& request);
};

std::span<const KindRow> inputKinds();

// The kind the first row that takes the operand makes.
std::unique_ptr<InputKind> chooseInputKind(const InputSeams& seams, const KindRequest& request);

}  // namespace iqfeeder
