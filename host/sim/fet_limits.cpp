#include "sim/fet_limits.h"

#include <algorithm>
#include <cmath>

namespace udmhost::sim {

double limitFetGate(double vnew, double vold, double vto) {
    const double highStep = std::abs(2.0 * (vold - vto)) + 2.0;
    const double lowStep = std::abs(vold - vto) + 1.0;
    const double strong = vto + 3.5;
    const double delta = vnew - vold;
    if (vold >= vto) {
        if (vold >= strong) {
            if (delta <= 0.0) {  // turning off
                if (vnew >= strong) return -delta > lowStep ? vold - lowStep : vnew;
                return std::max(vnew, vto + 2.0);
            }
            return delta >= highStep ? vold + highStep : vnew;  // staying on
        }
        return delta <= 0.0 ? std::max(vnew, vto - 0.5) : std::min(vnew, vto + 4.0);
    }
    if (delta <= 0.0) return -delta > highStep ? vold - highStep : vnew;  // off, going further off
    const double justOn = vto + 0.5;
    if (vnew <= justOn) return delta > lowStep ? vold + lowStep : vnew;
    return justOn;
}

double limitDrainSource(double vnew, double vold) {
    if (vold >= 3.5) {
        if (vnew > vold) return std::min(vnew, 3.0 * vold + 2.0);
        return vnew < 3.5 ? std::max(vnew, 2.0) : vnew;
    }
    return vnew > vold ? std::min(vnew, 4.0) : std::max(vnew, -0.5);
}

double limitJunction(double vnew, double vold, double vt, double vcrit, bool& limited) {
    limited = false;
    if (vnew > vcrit && std::abs(vnew - vold) > 2.0 * vt) {
        limited = true;
        if (vold > 0.0) {
            const double arg = (vnew - vold) / vt;
            return arg > 0.0 ? vold + vt * (2.0 + std::log(arg - 2.0)) : vold - vt * (2.0 + std::log(2.0 - arg));
        }
        return vt * std::log(vnew / vt);
    }
    if (vnew < 0.0) {
        const double floor = vold > 0.0 ? -vold - 1.0 : 2.0 * vold - 1.0;
        if (vnew < floor) {
            limited = true;
            return floor;
        }
    }
    return vnew;
}

}  // namespace udmhost::sim
