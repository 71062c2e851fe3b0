#pragma once

namespace pv {

// Gives every decoder that exists its probe and factory in the table of
// formats and registers the whole table once.
void RegisterDecoders();

}  // namespace pv
