# Tests of the built Windows executables: checks of the 32-bit file and the
# end-to-end suite under Wine with the 64-bit twin.
