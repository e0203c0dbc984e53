/* A field too large for the small code model: with -mcmodel=medium, gcc puts
   the COMMON declaration in x86-64's large COMMON section. */
double field_[200000];
double scale_[4];
