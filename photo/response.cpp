#include "photo/response.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

double Median(std::vector<double> v) {
    if (v.empty()) {
        return 0;
    }
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

} // namespace

SlopeFit FitSlope(const std::vector<double>& x, const std::vector<double>& y, double least) {
    SlopeFit fit;
    std::vector<double> xs, ys, ratios;
    for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
        if (std::fabs(x[i]) >= least && std::isfinite(y[i])) {
            xs.push_back(x[i]);
            ys.push_back(y[i]);
            ratios.push_back(y[i] / x[i]);
        }
    }
    fit.used = xs.size();
    if (xs.size() < 3) {
        return fit;
    }
    double slope = Median(ratios);
    std::vector<double> residuals(xs.size());
    for (int round = 0; round < 20; ++round) {
        for (size_t i = 0; i < xs.size(); ++i) {
            residuals[i] = std::fabs(ys[i] - slope * xs[i]);
        }
        // The residuals' spread, robustly; a floor keeps perfect data from dividing by nothing.
        const double scale = std::max(1.4826 * Median(residuals), 1e-5);
        double sxy = 0, sxx = 0;
        for (size_t i = 0; i < xs.size(); ++i) {
            const double u = residuals[i] / (2.385 * scale);
            const double w = 1 / (1 + u * u);
            sxy += w * xs[i] * ys[i];
            sxx += w * xs[i] * xs[i];
        }
        if (sxx <= 0) {
            return fit;
        }
        slope = sxy / sxx;
        fit.uncertainty = scale / std::sqrt(sxx);
    }
    fit.slope = slope;
    return fit;
}

bool UsableSlope(const SlopeFit& fit) {
    return fit.used >= 8 && fit.slope >= 0.4 && fit.slope <= 3.0 && fit.uncertainty * 8 < fit.slope;
}

namespace {

// Solves the n x n system m a = b by elimination with partial pivoting; false when it is singular.
bool Solve(double m[6][6], double b[6], int n, double a[6]) {
    for (int c = 0; c < n; ++c) {
        int pivot = c;
        for (int r = c + 1; r < n; ++r) {
            pivot = std::fabs(m[r][c]) > std::fabs(m[pivot][c]) ? r : pivot;
        }
        if (std::fabs(m[pivot][c]) < 1e-15) {
            return false;
        }
        std::swap(m[c], m[pivot]);
        std::swap(b[c], b[pivot]);
        for (int r = 0; r < n; ++r) {
            if (r != c) {
                const double f = m[r][c] / m[c][c];
                for (int k = c; k < n; ++k) {
                    m[r][k] -= f * m[c][k];
                }
                b[r] -= f * b[c];
            }
        }
    }
    for (int i = 0; i < n; ++i) {
        a[i] = b[i] / m[i][i];
    }
    return true;
}

} // namespace

SlopeField FitSlopeField(const std::vector<double>& x, const std::vector<double>& y,
                         const std::vector<double>& u, const std::vector<double>& v, double least) {
    SlopeField field;
    field.fit = FitSlope(x, y, least);
    field.a[0] = field.fit.slope;
    std::vector<size_t> used;
    for (size_t i = 0; i < x.size() && i < y.size() && i < u.size() && i < v.size(); ++i) {
        if (std::fabs(x[i]) >= least && std::isfinite(y[i])) {
            used.push_back(i);
        }
    }
    // Six unknowns want many more points than six, spread over the wall.
    if (!UsableSlope(field.fit) || used.size() < 60) {
        return field;
    }
    std::vector<double> residuals(used.size());
    SlopeField next = field;
    for (int round = 0; round < 12; ++round) {
        for (size_t k = 0; k < used.size(); ++k) {
            const size_t i = used[k];
            residuals[k] = std::fabs(y[i] - next.At(u[i], v[i]) * x[i]);
        }
        const double scale = std::max(1.4826 * Median(residuals), 1e-5);
        double m[6][6] = {}, b[6] = {};
        for (size_t k = 0; k < used.size(); ++k) {
            const size_t i = used[k];
            const double t = residuals[k] / (2.385 * scale), w = 1 / (1 + t * t);
            const double phi[6] = {1, u[i], v[i], u[i] * u[i], u[i] * v[i], v[i] * v[i]};
            for (int p = 0; p < 6; ++p) {
                for (int q = 0; q < 6; ++q) {
                    m[p][q] += w * x[i] * x[i] * phi[p] * phi[q];
                }
                b[p] += w * x[i] * y[i] * phi[p];
            }
        }
        if (!Solve(m, b, 6, next.a)) {
            return field;
        }
    }
    // Within what a camera can have at the wall's corners and middles, or not at all.
    for (const double pu : {-1.0, 0.0, 1.0}) {
        for (const double pv : {-1.0, 0.0, 1.0}) {
            if (!(next.At(pu, pv) >= 0.4 && next.At(pu, pv) <= 3.0)) {
                return field;
            }
        }
    }
    next.fit = field.fit;
    next.fit.slope = next.a[0];
    return next;
}
