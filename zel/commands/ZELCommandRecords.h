#pragma once

#include <cstdint>

// Records the command set's parsers fill from device answers. Layouts are in-memory only; the parsers
// read every field from its own packet offset.

// One CAN driver module of the MCPU (module list answer).
struct _MCPU_CAN_DRIVER
{
    std::uint8_t moduleId = 0;
    std::uint16_t boardVersion = 0;
    std::uint16_t bootloaderVersion = 0;
    std::uint16_t mainVersion = 0;
};

// Profile page 0: the main controller's settings.
struct _CCPU_SETTINGS
{
    std::uint8_t enableControls = 0;
    std::uint8_t displayRotation = 0;
    std::uint8_t displayBrightness = 0;
    std::uint8_t wheelBrightness = 0;
    std::uint8_t ledBrightness = 0;
    std::uint8_t lastPidQuickSetup = 0;
    std::uint8_t rtpMotorState = 0;
    std::uint8_t rtpEndStops = 0;
    std::uint8_t rtpFollow = 0;
    std::uint16_t followDeadband = 0;
    std::uint16_t followRamp = 0;
    std::uint8_t endStopMode = 0;
    std::uint8_t fizMotorState = 0;
    std::uint8_t fizEndStops = 0;
    std::uint8_t cameraRecordState = 0;
    std::uint8_t sliderMotorState = 0;
    std::uint8_t sliderEndStopTop = 0;
    std::uint8_t sliderEndStopBottom = 0;
};

// Profile pages 1-3: roll, tilt and pan axis.
struct _CCPU_RTP_PARAMETERS
{
    std::uint8_t motorMode = 0;
    std::uint8_t setpointMode = 0;
    std::uint16_t reserved14 = 0; // kept, not shown
    std::uint8_t reserved16 = 0;  // kept, not shown
    std::uint16_t p = 0;
    std::uint16_t i = 0;
    std::uint16_t d = 0;
    std::uint16_t power = 0;
    std::uint16_t powerDrop = 0;
    std::uint16_t speedMultiplicator = 0;
    std::uint16_t speedRatio = 0;
    std::uint16_t setpointRaw = 0;
    std::uint8_t setpointDeadband = 0;
    std::uint16_t setpointSensitivity = 0;
    std::uint8_t setpointDirection = 0;
    std::uint8_t setpointFilter = 0;
    std::uint8_t startRamp = 0;
    std::uint8_t stopRamp = 0;
    std::uint8_t rampMode = 0;
    std::uint16_t offsetRaw = 0;
    std::uint8_t offsetDeadband = 0;
    std::uint16_t offsetSensitivity = 0;
    std::uint8_t offsetDirection = 0;
    std::uint8_t followMode = 0;
    std::uint16_t followSpeed = 0;
    std::uint16_t endStopMin = 0;
    std::uint16_t endStopMax = 0;
    std::uint8_t reserved126 = 0; // kept, not shown
    std::uint8_t reserved128 = 0;
    std::uint8_t reserved130 = 0;
};

// Profile pages 4-6: focus, iris and zoom.
struct _CCPU_FIZ_PARAMETERS
{
    std::uint8_t motorMode = 0;
    std::uint8_t setpointMode = 0;
    std::uint8_t torque = 0;
    std::uint8_t side = 0;
    std::uint16_t speedMultiplicator = 0;
    std::uint16_t speedRatio = 0;
    std::uint16_t setpointRaw = 0;
    std::uint8_t setpointDeadband = 0;
    std::uint16_t setpointSensitivity = 0;
    std::uint8_t setpointDirection = 0;
    std::uint8_t setpointFilter = 0;
    std::uint8_t startRamp = 0;
    std::uint8_t stopRamp = 0;
    std::uint8_t rampMode = 0;
};

// Profile page 7: the slider.
struct _CCPU_SLIDER_PARAMETERS
{
    std::uint8_t motorMode = 0;
    std::uint8_t setpointMode = 0;
    std::uint16_t speedMultiplicator = 0;
    std::uint16_t speedRatio = 0;
    std::uint16_t setpointRaw = 0;
    std::uint8_t setpointDeadband = 0;
    std::uint16_t setpointSensitivity = 0;
    std::uint8_t setpointDirection = 0;
    std::uint8_t setpointFilter = 0;
    std::uint8_t startRamp = 0;
    std::uint8_t stopRamp = 0;
    std::uint8_t rampMode = 0;
    std::uint16_t offsetRaw = 0;
    std::uint8_t offsetDeadband = 0;
    std::uint16_t offsetSensitivity = 0;
    std::uint8_t offsetDirection = 0;
    std::uint16_t endStopMin = 0;
    std::uint16_t endStopMax = 0;
};

// Profile pages 8 and above: 61 assignment values per page.
struct _CCPU_ASSIGNMENT
{
    static constexpr int VALUES_PER_PAGE = 61;
    static constexpr int CAPACITY = 254;
    std::uint16_t values[CAPACITY] = {};
};

// Everything one profile's pages fill.
struct _CCPU_PROFILE
{
    _CCPU_SETTINGS settings;
    _CCPU_RTP_PARAMETERS axes[3];       // roll, tilt, pan
    _CCPU_FIZ_PARAMETERS lensAxes[3];   // focus, iris, zoom
    _CCPU_SLIDER_PARAMETERS slider;
    _CCPU_ASSIGNMENT assignments;
};

// One channel of an ECPU PWM calibration answer.
struct _ECPU_PWM_CALIBRATION
{
    std::uint8_t minMaxCalibrated = 0;
    std::uint8_t zeroCalibrated = 0;
    float dutyCycleMin = 0;
    float dutyCycleMax = 0;
    float offset = 0;
};

// MCPU real-time data (id 0x17); the values are passed on as numbers.
struct _MCPU_REALTIME_DATA3
{
    std::int16_t first[3] = {};  // packet bytes 4, 6, 8
    std::int16_t second[3] = {}; // packet bytes 10, 12, 14
    std::uint16_t word18 = 0;
    std::uint8_t byte20 = 0;
    std::uint16_t word56 = 0;
    std::uint8_t byte61 = 0;
};

// One group of the custom real-time stream (id 0x58).
struct _MCPU_REALTIME_GROUP
{
    std::int16_t value = 0;
    std::uint8_t flags = 0;
};
