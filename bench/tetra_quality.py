#!/usr/bin/env python3
"""Quality of a TetGen mesh (.node and .ele files) by the measures mgn reports:
the boundary quality 374.1229744 V^2 / S^3 of each tetra (mean, worst) and the
dihedral angles (smallest, and the count below 10 and 20 degrees).

Usage: tetra_quality.py BASE   (reads BASE.node and BASE.ele)
"""
import math
import sys


def read_numbers(path):
    rows = []
    with open(path) as f:
        for line in f:
            line = line.split('#', 1)[0].split()
            if line:
                rows.append(line)
    return rows


def sub(a, b):
    return (a[0] - b[0], a[1] - b[1], a[2] - b[2])


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def dot(a, b):
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]


def norm(a):
    return math.sqrt(dot(a, a))


def main():
    base = sys.argv[1]
    nodes = read_numbers(base + '.node')
    count = int(nodes[0][0])
    first = int(nodes[1][0])
    xyz = {int(r[0]): (float(r[1]), float(r[2]), float(r[3])) for r in nodes[1:1 + count]}
    eles = read_numbers(base + '.ele')
    n_ele = int(eles[0][0])
    qsum, qmin, amin, below10, below20 = 0.0, 1.0, 180.0, 0, 0
    faces = ((0, 1, 2), (0, 1, 3), (1, 2, 3), (2, 0, 3))
    for r in eles[1:1 + n_ele]:
        p = [xyz[int(r[k])] for k in (1, 2, 3, 4)]
        v = abs(dot(cross(sub(p[1], p[0]), sub(p[2], p[0])), sub(p[3], p[0]))) / 6.0
        normals = []
        s = 0.0
        for f in faces:
            c = cross(sub(p[f[1]], p[f[0]]), sub(p[f[2]], p[f[0]]))
            s += 0.5 * norm(c)
        q = 374.1229744 * v * v / (s * s * s)
        qsum += q
        qmin = min(qmin, q)
        # Dihedral angles at the six edges from the two faces' outward normals.
        smallest = 180.0
        for i in range(4):
            for j in range(i + 1, 4):
                edge = [k for k in range(4) if k != i and k != j]
                a, b = p[edge[0]], p[edge[1]]
                e = sub(b, a)
                # Projections of the two other nodes onto the plane normal to the edge.
                def perp(x):
                    d = sub(x, a)
                    t = dot(d, e) / dot(e, e)
                    return (d[0] - t * e[0], d[1] - t * e[1], d[2] - t * e[2])
                u, w = perp(p[i]), perp(p[j])
                cosine = dot(u, w) / (norm(u) * norm(w))
                angle = math.degrees(math.acos(max(-1.0, min(1.0, cosine))))
                smallest = min(smallest, angle)
        amin = min(amin, smallest)
        below10 += smallest < 10.0
        below20 += smallest < 20.0
    print('%d tetras  quality mean %.4f worst %.4f  min dihedral %.2f deg  below 10 deg %d  below 20 deg %d'
          % (n_ele, qsum / n_ele, qmin, amin, below10, below20))


if __name__ == '__main__':
    main()
