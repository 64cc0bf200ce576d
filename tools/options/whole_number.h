// A whole number given as an option's value: ovrun's seconds and jobs,
// ovini's sizes.
#pragma once

// Decimal digits only, at least one, from low to high; false for anything
// else.
bool ParseWholeNumber(const char* text, unsigned long low, unsigned long high, unsigned long* number);
