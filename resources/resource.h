#pragma once
#define IDI_QUILLNET 101
