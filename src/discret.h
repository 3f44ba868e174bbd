// Meshing driver: walks the model and discretizes every entity (in progress).
#ifndef MGN_DISCRET_H
#define MGN_DISCRET_H
#endif
