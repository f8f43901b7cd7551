// A module that carries only resources.
