"""Ableton Live Remote Script that lets Vintrelle search Live's browser and load plug-ins."""

from .bridge import VintrelleBridge


def create_instance(c_instance):
    return VintrelleBridge(c_instance)
