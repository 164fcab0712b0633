#pragma once

class RefclockLog;
class SerialPort;
struct RefclockOptions;

// quorvel-refclock --calibrate: refuses unless chrony keeps the computer's clock from another
// source (see ChronyStatus), then reads the device for the calibration's length through the
// same rules as the reference clock (frames the device's clock agrees with only), showing its
// progress when its output is a terminal, and prints the median delay, its spread and the
// option to use; with --save it writes that option into the service's settings. Returns the
// program's exit status: 0 when a delay was found (and saved), 1 otherwise.
int runCalibration(const RefclockOptions &options, SerialPort *port, RefclockLog *log);
