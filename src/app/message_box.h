// What the app's portable controllers ask of a message box.
#pragma once
#include <string>

enum class BoxIcon { None, Information, Warning, Question, Error };
