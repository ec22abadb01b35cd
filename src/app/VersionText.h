#pragma once

#include <QString>

// The caption's version suffix: " major.minor.patch.tweak" of this build, with its leading blank.
QString GetVersionText();
