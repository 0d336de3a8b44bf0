#pragma once
/// @file driver_error.h
/// The error code a motor driver reports.

/// The error code a motor driver reports through Driver::getErrorCode. The
/// meaning of each code is the driver firmware's; the library passes it through.
/// A code the library does not know arrives as DRIVER_ERROR_UNRECOGNISED.
enum driver_error_t {
    DRIVER_ERROR_0 = 0,
    DRIVER_ERROR_1 = 1,
    DRIVER_ERROR_2 = 2,
    DRIVER_ERROR_3 = 3,
    DRIVER_ERROR_4 = 4,
    DRIVER_ERROR_5 = 5,
    DRIVER_ERROR_6 = 6,
    DRIVER_ERROR_7 = 7,
    DRIVER_ERROR_8 = 8,
    DRIVER_ERROR_9 = 9,
    DRIVER_ERROR_10 = 10,
    DRIVER_ERROR_11 = 11,
    DRIVER_ERROR_12 = 12,
    DRIVER_ERROR_13 = 13,
    DRIVER_ERROR_14 = 14,
    DRIVER_ERROR_15 = 15,
    DRIVER_ERROR_16 = 16,
    DRIVER_ERROR_17 = 17,
    DRIVER_ERROR_18 = 18,
    DRIVER_ERROR_19 = 19,
    DRIVER_ERROR_20 = 20,
    DRIVER_ERROR_21 = 21,
    DRIVER_ERROR_22 = 22,
    DRIVER_ERROR_23 = 23,
    DRIVER_ERROR_24 = 24,
    DRIVER_ERROR_25 = 25,
    DRIVER_ERROR_26 = 26,
    DRIVER_ERROR_27 = 27,
    DRIVER_ERROR_28 = 28,
    DRIVER_ERROR_29 = 29,
    DRIVER_ERROR_30 = 30,
    DRIVER_ERROR_31 = 31,
    DRIVER_ERROR_32 = 32,
    DRIVER_ERROR_33 = 33,
    DRIVER_ERROR_34 = 34,
    DRIVER_ERROR_35 = 35,
    DRIVER_ERROR_36 = 36,
    DRIVER_ERROR_37 = 37,
    DRIVER_ERROR_38 = 38,
    DRIVER_ERROR_39 = 39,
    DRIVER_ERROR_40 = 40,
    DRIVER_ERROR_UNRECOGNISED = 255  ///< the driver sent a code outside 0-40 and 255
};
