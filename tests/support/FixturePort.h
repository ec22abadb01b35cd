#pragma once

#include <QString>

// The port that the CTest fixture of a test server left in <test state folder>/<fixture>/port once the
// server listened. Throws when the file is absent (the test does not list the fixture, or the server
// did not start) or holds no port number.
quint16 FixturePort(const QString& fixture);
