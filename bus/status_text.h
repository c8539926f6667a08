#pragma once

#include <QString>

// The German text of a controller status code; unknown codes name their number.
QString statusText(int code);
