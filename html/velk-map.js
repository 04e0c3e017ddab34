// The map of the viewer's side panel: a vehicle marker, the route driven so far in this
// playback, and the two functions the panel runs: MapMove(latitude, longitude) after each usable
// position, MapReset() when a new playback starts. Each page sets window.velkMapLabels (its
// language's texts and a start position) before loading this file.
//
// The tile address can be given as the page's "tiles" parameter
// (?tiles=http://127.0.0.1:PORT/{z}/{x}/{y}.png), so the map can be shown from a local server.
(function () {
    "use strict";

    var labels = window.velkMapLabels || {};
    var defaultTiles = "https://tile.openstreetmap.org/{z}/{x}/{y}.png";
    var zoom = 17;
    // A route of more points than this loses its oldest ones: a playback of many hours must not
    // grow the page without bound (at two positions a second this is over five hours).
    var longestRoute = 40000;

    function tileAddress() {
        var given = null;
        try {
            given = new URLSearchParams(window.location.search).get("tiles");
        } catch (e) {
            given = null;
        }
        if (given && /^https?:\/\//i.test(given) && given.indexOf("{z}") >= 0 &&
            given.indexOf("{x}") >= 0 && given.indexOf("{y}") >= 0) {
            return given;
        }
        return defaultTiles;
    }

    function usable(latitude, longitude) {
        return typeof latitude === "number" && typeof longitude === "number" &&
            isFinite(latitude) && isFinite(longitude) && Math.abs(latitude) <= 90 &&
            Math.abs(longitude) <= 180;
    }

    // Without the map library the page still answers the panel's calls; nothing moves.
    if (!window.L) {
        window.MapMove = function () {};
        window.MapReset = function () {};
        return;
    }

    var start = labels.start || [37.5665, 126.978];
    var map = L.map("map", {
        center: start,
        zoom: zoom,
        keyboard: false, // the viewer's keys belong to the viewer, not to the map
        zoomControl: false,
        attributionControl: false
    });
    L.control.zoom({
        position: "topright",
        zoomInTitle: labels.zoomIn || "Zoom in",
        zoomOutTitle: labels.zoomOut || "Zoom out"
    }).addTo(map);
    L.control.attribution({ prefix: false, position: "bottomright" }).addTo(map);
    L.tileLayer(tileAddress(), {
        maxZoom: 19,
        attribution: labels.attribution || "&copy; OpenStreetMap contributors"
    }).addTo(map);

    var route = L.polyline([], { color: "#e0301e", weight: 4, opacity: 0.9 }).addTo(map);
    var vehicle = null;
    var moves = 0;

    window.MapMove = function (latitude, longitude) {
        if (!usable(latitude, longitude)) return;
        var here = L.latLng(latitude, longitude);
        if (!vehicle) {
            vehicle = L.marker(here, { title: labels.vehicle || "Vehicle", keyboard: false })
                .addTo(map);
            map.setView(here, map.getZoom(), { animate: false });
        } else {
            vehicle.setLatLng(here);
            map.panTo(here, { animate: true, duration: 0.4 });
        }
        var points = route.getLatLngs();
        if (points.length >= longestRoute) points.splice(0, points.length - longestRoute + 1);
        points.push(here);
        route.setLatLngs(points);
        moves += 1;
    };

    window.MapReset = function () {
        route.setLatLngs([]);
    };

    // What the page shows, for the viewer's tests and for support.
    window.MapState = function () {
        var at = vehicle ? vehicle.getLatLng() : null;
        return {
            moves: moves,
            routePoints: route.getLatLngs().length,
            vehicle: at ? [at.lat, at.lng] : null,
            centre: [map.getCenter().lat, map.getCenter().lng],
            tiles: tileAddress()
        };
    };
})();
