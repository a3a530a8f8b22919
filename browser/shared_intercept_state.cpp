#include "browser/shared_intercept_state.h"

SharedInterceptState interceptState;
