#pragma once
// The exceptions a long procedure raises when it did not complete: the
// library's own account of where and why (step, sector or address, member,
// the bootloader's reply byte), as attributes next to status, node and operation.

#include <kinetra/config_result.h>
#include <kinetra/flash_options.h>
#include <kinetra/offaxis_calibration.h>
#include <kinetra/types.h>

#include <string_view>

namespace kinetra::python {

/// Raises kinetra.FlashError for a firmware update of `node` that ended with
/// `status` and `result`.
[[noreturn]] void raiseFlash(ret_status_t status, unsigned node, const FlashResult& result);

/// Raises kinetra.ConfigurationError for the configuration import or export
/// `operation` of `node` that ended with `result`.
[[noreturn]] void raiseConfiguration(const ConfigResult& result, unsigned node, std::string_view operation);

/// Raises kinetra.CalibrationError for the calibration of `node` that did not
/// calibrate, having begun `stage` last; the result goes with it.
[[noreturn]] void raiseCalibration(const OffAxisCalibrationResult& result, OffAxisStage stage, unsigned node,
                                   std::string_view operation);

}  // namespace kinetra::python
