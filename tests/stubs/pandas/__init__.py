"""A stand-in for pandas, which the module imports at load but never uses."""
