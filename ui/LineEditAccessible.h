#pragma once
// Every one-line text field as a screen reader reads it. Qt 6.4's own gives
// each character a text-attribute run of no length, so Orca, which reads a
// line run by run, drops its last character: a seed was heard a digit
// short. This one gives the whole text as one run and is otherwise the
// same. A later Qt whose runs have their length makes it unnecessary.

namespace terralume::ui {

// Once per program, before the first field is read.
void installLineEditAccessible();

} // namespace terralume::ui
