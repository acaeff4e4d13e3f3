// Texts for the C library's error numbers: "message <ENAME>".
#pragma once

const char *ErrnoName(int value);
const char *ErrnoStr(int value);
