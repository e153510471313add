#!/usr/bin/env python3
"""Substitute weather and quote services for Corvelta's offline demo and tests.

Serves, over plain HTTP on 127.0.0.1 only, replies laid out like those of the
real services: GeoJSON documents for the weather point, station list, latest
observation (pretty-printed, measurements as unitCode/value/qualityControl
objects), active alerts (one warning in force, updated once) and forecast
(US units, or metric with units=si), and a compact JSON quote list whose
objects open with "preMarketChange". The weather and the quotes follow the
clock: every minute brings a new observation and new prices, so a feed
refreshed every minute shows values that move; the warning and the forecast
periods are always current.

Prints one line per service once both listen:
    weather http://127.0.0.1:PORT
    stock http://127.0.0.1:PORT
and writes the same lines to --port-file when one is given.
Python 3 standard library only.
"""

import argparse
import datetime
import json
import math
import os
import re
import sys
import threading
import time
import urllib.parse
import zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

LOOPBACK = "127.0.0.1"

# The demo's point, grid and stations (around Lincoln, Nebraska).
GRID_ID, GRID_X, GRID_Y = "OAX", 77, 62
STATIONS = [
    # id, name, elevation m, longitude, latitude, offset of the local weather
    ("KLNK", "Lincoln Municipal Airport", 362.1, -96.7592, 40.8508, 0.0),
    ("KOMA", "Omaha Eppley Airfield", 299.0, -95.8992, 41.3103, 0.8),
    ("KOFF", "Offutt Air Force Base", 317.0, -95.9167, 41.1167, 0.5),
    ("KBIE", "Beatrice Municipal Airport", 403.9, -96.7542, 40.3011, -0.6),
    ("KCEK", "Crete Municipal Airport", 433.0, -96.9614, 40.6178, -0.3),
    ("KAFK", "Nebraska City Municipal Airport", 353.0, -95.8656, 40.6064, 0.4),
    ("KFET", "Fremont Municipal Airport", 367.0, -96.5206, 41.4492, -0.9),
    ("KSWT", "Seward Municipal Airport", 435.0, -97.1353, 40.8650, -0.5),
]
STATION_BY_ID = {station[0]: station for station in STATIONS}

# Quotes the demo knows by name; any other well-formed symbol gets a quote too.
COMPANIES = {
    "AAPL": ("Apple Inc.", 189.25, "NasdaqGS", "NMS"),
    "MSFT": ("Microsoft Corporation", 415.10, "NasdaqGS", "NMS"),
    "NVDA": ("NVIDIA Corporation", 121.40, "NasdaqGS", "NMS"),
    "AMZN": ("Amazon.com, Inc.", 184.30, "NasdaqGS", "NMS"),
    "TSLA": ("Tesla, Inc.", 177.90, "NasdaqGS", "NMS"),
    "GOOG": ("Alphabet Inc.", 176.60, "NasdaqGS", "NMS"),
    "IBM": ("International Business Machines", 168.20, "NYSE", "NYQ"),
}
SYMBOL_PATTERN = re.compile(r"^[A-Z0-9.^=-]{1,12}$")
MAX_SYMBOLS = 50


def stable_unit(text):
    """A number in [0, 1) that depends only on the text (unlike hash())."""
    return (zlib.crc32(text.encode("utf-8")) & 0xFFFFFF) / float(0x1000000)


class Clock:
    """The time the replies describe: now, or a fixed moment for tests.

    With a fixed moment and `stamps_now`, the alerts and the forecast still
    describe that moment but carry their times as if it were now, so a
    program that judges them by its own clock finds the warning in force and
    the forecast current."""

    def __init__(self, fixed_epoch=None, stamps_now=False):
        self.fixed_epoch = fixed_epoch
        self.stamp_shift = 0
        if fixed_epoch is not None and stamps_now:
            self.stamp_shift = round(time.time() - fixed_epoch)

    def now(self):
        return self.fixed_epoch if self.fixed_epoch is not None else time.time()


# ---------------------------------------------------------------- weather


def observation_values(station, epoch):
    """The station's weather for the minute that holds `epoch`."""
    minute = int(epoch // 60)
    offset = station[5]
    hour = (epoch % 86400) / 3600.0 - 6.0  # about local time in Nebraska
    # A daily swing, a quicker wobble so each minute's reading differs, and
    # the station's own offset; readings come in tenths of a degree.
    temperature = 14.0 + 7.0 * math.sin(2 * math.pi * (hour - 9.0) / 24.0) \
        + 2.6 * math.sin(minute / 4.3) + offset
    spread = 6.0 + 3.0 * math.sin(minute / 17.0 + 1.0)
    dewpoint = temperature - spread
    temperature = round(temperature, 1)
    dewpoint = round(dewpoint, 1)
    # Relative humidity from temperature and dew point (Magnus formula).
    def vapour(t):
        return math.exp(17.625 * t / (243.04 + t))
    humidity = round(100.0 * vapour(dewpoint) / vapour(temperature), 6)
    direction = (300 + 10 * round(40 * math.sin(minute / 9.0))) % 360
    knots = max(0, round(9 + 6 * math.sin(minute / 5.0 + offset)))
    speed = round(knots * 1.852, 3)  # km/h, as the service reports it
    gust = round((knots + 9) * 1.852, 3) if knots >= 12 else None
    cover = 0.5 + 0.5 * math.sin(minute / 11.0 + offset)
    if humidity > 88:
        description, cloud = "Light Rain", "OVC"
    elif cover > 0.85:
        description, cloud = "Overcast", "OVC"
    elif cover > 0.6:
        description, cloud = "Mostly Cloudy", "BKN"
    elif cover > 0.35:
        description, cloud = "Partly Cloudy", "SCT"
    elif cover > 0.15:
        description, cloud = "Mostly Clear", "FEW"
    else:
        description, cloud = "Clear", "CLR"
    pressure = round(101600 + 700 * math.sin(minute / 90.0), -1)
    return {
        "minute": minute,
        "temperature": temperature,
        "dewpoint": dewpoint,
        "humidity": humidity,
        "direction": direction,
        "knots": knots,
        "speed": speed,
        "gust": gust,
        "description": description,
        "cloud": cloud,
        "pressure": pressure,
    }


def measurement(unit, value, quality="V"):
    return {"unitCode": "wmoUnit:" + unit, "value": value, "qualityControl": quality}


def plain_measurement(unit, value):
    return {"unitCode": "wmoUnit:" + unit, "value": value}


def metar(station_id, when, values):
    """A METAR-like raw message, for realism only (the program ignores it)."""
    def whole(t):
        return ("M%02d" % round(-t)) if t < 0 else "%02d" % round(t)
    cloud = "CLR" if values["cloud"] == "CLR" else values["cloud"] + "045"
    gust = "G%02d" % (values["knots"] + 9) if values["gust"] is not None else ""
    inches = values["pressure"] / 3386.389
    return "%s %sZ %03d%02d%sKT 10SM %s %s/%s A%04d RMK AO2" % (
        station_id, when.strftime("%d%H%M"), values["direction"], values["knots"], gust,
        cloud, whole(values["temperature"]), whole(values["dewpoint"]), round(inches * 100))


def observation_document(base, station, epoch):
    values = observation_values(station, epoch)
    when = datetime.datetime.fromtimestamp(values["minute"] * 60, datetime.timezone.utc)
    station_id, _, elevation, lon, lat, _ = station
    stamp = when.isoformat()
    ident = "%s/stations/%s/observations/%s" % (base, station_id, stamp)
    icon_kind = {"CLR": "skc", "FEW": "few", "SCT": "sct", "BKN": "bkn", "OVC": "ovc"}[values["cloud"]]
    if values["description"] == "Light Rain":
        icon_kind = "rain"
    properties = {
        "@id": ident,
        "@type": "wx:ObservationStation",
        "elevation": plain_measurement("m", elevation),
        "station": "%s/stations/%s" % (base, station_id),
        "timestamp": stamp,
        "rawMessage": metar(station_id, when, values),
        "textDescription": values["description"],
        "icon": "%s/icons/land/day/%s?size=medium" % (base, icon_kind),
        "presentWeather": [],
        "temperature": measurement("degC", values["temperature"]),
        "dewpoint": measurement("degC", values["dewpoint"]),
        "windDirection": measurement("degree_(angle)", values["direction"]),
        "windSpeed": measurement("km_h-1", values["speed"]),
        "windGust": measurement("km_h-1", values["gust"], "V" if values["gust"] is not None else "Z"),
        "barometricPressure": measurement("Pa", values["pressure"]),
        "seaLevelPressure": measurement("Pa", values["pressure"] + 420),
        "visibility": measurement("m", 16090),
        "maxTemperatureLast24Hours": plain_measurement("degC", None),
        "minTemperatureLast24Hours": plain_measurement("degC", None),
        "precipitationLastHour": measurement("mm", None, "Z"),
        "precipitationLast3Hours": measurement("mm", None, "Z"),
        "precipitationLast6Hours": measurement("mm", None, "Z"),
        "relativeHumidity": measurement("percent", values["humidity"]),
        "windChill": measurement("degC", None),
        "heatIndex": measurement("degC", None),
        "cloudLayers": [] if values["cloud"] == "CLR" else [
            {"base": plain_measurement("m", 1370), "amount": values["cloud"]}],
    }
    return {
        "@context": ["https://geojson.org/geojson-ld/geojson-context.jsonld",
                     {"@version": "1.1", "wx": base + "/ontology#", "@vocab": base + "/ontology#"}],
        "id": ident,
        "type": "Feature",
        "geometry": {"type": "Point", "coordinates": [lon, lat]},
        "properties": properties,
    }


def point_document(base, latitude, longitude):
    ident = "%s/points/%s,%s" % (base, latitude, longitude)
    grid = "%s/gridpoints/%s/%d,%d" % (base, GRID_ID, GRID_X, GRID_Y)
    try:
        coordinates = [float(longitude), float(latitude)]
    except ValueError:
        coordinates = [None, None]
    return {
        "@context": ["https://geojson.org/geojson-ld/geojson-context.jsonld",
                     {"@version": "1.1", "wx": base + "/ontology#"}],
        "id": ident,
        "type": "Feature",
        "geometry": {"type": "Point", "coordinates": coordinates},
        "properties": {
            "@id": ident,
            "@type": "wx:Point",
            "cwa": GRID_ID,
            "forecastOffice": "%s/offices/%s" % (base, GRID_ID),
            "gridId": GRID_ID,
            "gridX": GRID_X,
            "gridY": GRID_Y,
            "forecast": grid + "/forecast",
            "forecastHourly": grid + "/forecast/hourly",
            "forecastGridData": grid,
            "observationStations": grid + "/stations",
            "relativeLocation": {
                "type": "Feature",
                "geometry": {"type": "Point", "coordinates": [-96.6852, 40.8090]},
                "properties": {
                    "city": "Lincoln",
                    "state": "NE",
                    "distance": plain_measurement("m", 5112.4),
                    "bearing": plain_measurement("degree_(angle)", 88),
                },
            },
            "timeZone": "America/Chicago",
            "radarStation": "KOAX",
        },
    }


def stations_document(base):
    features = []
    for station_id, name, elevation, lon, lat, _ in STATIONS:
        ident = "%s/stations/%s" % (base, station_id)
        features.append({
            "id": ident,
            "type": "Feature",
            "geometry": {"type": "Point", "coordinates": [lon, lat]},
            "properties": {
                "@id": ident,
                "@type": "wx:ObservationStation",
                "elevation": plain_measurement("m", elevation),
                "stationIdentifier": station_id,
                "name": name,
                "timeZone": "America/Chicago",
                "forecast": "%s/zones/forecast/NEZ066" % base,
                "county": "%s/zones/county/NEC109" % base,
                "fireWeatherZone": "%s/zones/fire/NEZ066" % base,
            },
        })
    return {
        "@context": ["https://geojson.org/geojson-ld/geojson-context.jsonld",
                     {"@version": "1.1", "wx": base + "/ontology#"}],
        "type": "FeatureCollection",
        "features": features,
        "observationStations": [feature["id"] for feature in features],
        "pagination": {"next": "%s/stations?id=%s&cursor=demo&limit=500" % (
            base, ",".join(station[0] for station in STATIONS))},
    }


# About local time in Nebraska (central standard time), as the service
# writes the times of alerts and forecast periods.
DEMO_ZONE = datetime.timezone(datetime.timedelta(hours=-6))


# A time stamp as the service writes it, with its offset.
STAMP_PATTERN = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d")


def shifted(value, seconds):
    """`value` with every time stamp in it moved by `seconds`."""
    if isinstance(value, dict):
        return {key: shifted(item, seconds) for key, item in value.items()}
    if isinstance(value, list):
        return [shifted(item, seconds) for item in value]
    if isinstance(value, str) and STAMP_PATTERN.fullmatch(value):
        return (datetime.datetime.fromisoformat(value) + datetime.timedelta(seconds=seconds)).isoformat()
    return value


def local_stamp(epoch):
    return datetime.datetime.fromtimestamp(epoch, DEMO_ZONE).isoformat()


def utc_stamp(epoch):
    return datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc).isoformat()


def alert_feature(base, ident, sent, expires, ends, message_type, references, headline, description):
    address = "%s/alerts/%s" % (base, ident)
    return {
        "id": address,
        "type": "Feature",
        "geometry": None,
        "properties": {
            "@id": address,
            "@type": "wx:Alert",
            "id": ident,
            "areaDesc": "Saunders; Lancaster; Cass; Otoe",
            "geocode": {"SAME": ["031155", "031109", "031025", "031131"],
                        "UGC": ["NEZ065", "NEZ066", "NEZ067", "NEZ078"]},
            "affectedZones": ["%s/zones/forecast/NEZ0%d" % (base, zone) for zone in (65, 66, 67, 78)],
            "references": references,
            "sent": local_stamp(sent),
            "effective": local_stamp(sent),
            "onset": local_stamp(sent),
            "expires": local_stamp(expires),
            "ends": local_stamp(ends),
            "status": "Actual",
            "messageType": message_type,
            "category": "Met",
            "severity": "Moderate",
            "certainty": "Likely",
            "urgency": "Expected",
            "event": "Wind Advisory",
            "sender": "w-nws.webmaster@noaa.gov",
            "senderName": "NWS Omaha/Valley NE",
            "headline": headline,
            "description": description,
            "instruction": "Winds this strong can make driving difficult, especially for high profile "
                           "vehicles. Use extra caution.",
            "response": "Execute",
            "parameters": {
                "AWIPSidentifier": ["NPWOAX"],
                "NWSheadline": ["WIND ADVISORY IN EFFECT"],
                "BLOCKCHANNEL": ["EAS", "NWEM", "CMAS"],
                "VTEC": ["/O.%s.KOAX.WI.Y.0004.000000T0000Z-000000T0000Z/"
                         % ("NEW" if message_type == "Alert" else "EXT")],
            },
        },
    }


def alerts_document(base, epoch):
    """One warning in force around `epoch`: a Wind Advisory issued two hours
    before and updated half an hour before. The service keeps the older
    version active too; the update lists it in its references, so a clock
    shows one warning, not "+1"."""
    minute = int(epoch // 60) * 60
    day = datetime.datetime.fromtimestamp(epoch, DEMO_ZONE).strftime("%Y%m%d")
    serial = "%08x" % (zlib.crc32(day.encode("utf-8")) & 0xFFFFFFFF)
    first_id = "urn:oid:2.49.0.1.840.0.%s.001.1" % serial
    first_sent = minute - 2 * 3600
    description = ("* WHAT...North winds 25 to 35 mph with gusts up to 55 mph.\n\n"
                   "* WHERE...Saunders, Lancaster, Cass and Otoe Counties.\n\n"
                   "* IMPACTS...Gusty winds will blow around unsecured objects. Tree limbs "
                   "could be blown down and a few power outages may result.")
    first = alert_feature(base, first_id, first_sent, minute + 3600, minute + 3 * 3600, "Alert", [],
                          "Wind Advisory issued by NWS Omaha/Valley NE", description)
    reference = {"@id": "%s/alerts/%s" % (base, first_id), "identifier": first_id,
                 "sender": "w-nws.webmaster@noaa.gov", "sent": local_stamp(first_sent)}
    update = alert_feature(base, "urn:oid:2.49.0.1.840.0.%s.002.1" % serial, minute - 30 * 60,
                           minute + 3 * 3600, minute + 6 * 3600, "Update", [reference],
                           "Wind Advisory extended by NWS Omaha/Valley NE",
                           description.replace("55 mph", "60 mph"))
    return {
        "@context": ["https://geojson.org/geojson-ld/geojson-context.jsonld",
                     {"@version": "1.1", "wx": base + "/ontology#", "@vocab": base + "/ontology#"}],
        "type": "FeatureCollection",
        "features": [update, first],
        "title": "Current watches, warnings, and advisories for the demo point",
        "updated": utc_stamp(minute),
    }


# Sky of a forecast period: short forecast and icon.
SKIES = [("Sunny", "skc"), ("Mostly Sunny", "few"), ("Partly Sunny", "sct"), ("Mostly Cloudy", "bkn"),
         ("Chance Rain Showers", "rain_showers,40"), ("Slight Chance Showers And Thunderstorms", "tsra_sct,20")]
NIGHT_SKIES = {"Sunny": "Clear", "Mostly Sunny": "Mostly Clear", "Partly Sunny": "Partly Cloudy"}


def forecast_periods(epoch):
    """Start, end (epochs), whether daytime, and name of the 14 periods from
    the one in progress: days 06:00-18:00, nights 18:00-06:00, local time."""
    local = datetime.datetime.fromtimestamp(epoch, DEMO_ZONE).replace(minute=0, second=0, microsecond=0)
    six = local.replace(hour=6)
    if local.hour < 6:
        bounds, daytime = [local, six], False
    elif local.hour < 18:
        bounds, daytime = [local, six + datetime.timedelta(hours=12)], True
    else:
        bounds, daytime = [local, six + datetime.timedelta(hours=24)], False
    while len(bounds) < 15:
        bounds.append(bounds[-1] + datetime.timedelta(hours=12))
    periods = []
    for number in range(14):
        start, end = bounds[number], bounds[number + 1]
        day = daytime == (number % 2 == 0)
        same_day = start.date() == local.date()
        if number == 0 and not day and local.hour < 6:
            name = "Overnight"
        elif day:
            name = ("This Afternoon" if local.hour >= 12 else "Today") if same_day else start.strftime("%A")
        else:
            name = "Tonight" if same_day else start.strftime("%A") + " Night"
        periods.append((start, end, day, name))
    return periods


def forecast_document(base, epoch, metric):
    """The forecast of the demo grid for the periods from `epoch` on, updated
    an hour before, in degrees Celsius and km/h with units=si."""
    hour = int(epoch // 3600) * 3600
    grid = "%s/gridpoints/%s/%d,%d" % (base, GRID_ID, GRID_X, GRID_Y)
    periods = []
    for number, (start, end, day, name) in enumerate(forecast_periods(epoch), start=1):
        key = start.strftime("%Y-%m-%d") + ("day" if day else "night")
        # Highs around 21 C and lows around 7 C (as the observations swing),
        # a few degrees apart from one day to the next.
        celsius = (21.0 if day else 7.0) + 6.0 * stable_unit(key) - 3.0
        temperature = round(celsius) if metric else round(celsius * 9 / 5 + 32)
        short, icon = SKIES[int(stable_unit(key + "/sky") * len(SKIES))]
        if not day:
            short = NIGHT_SKIES.get(short, short)
        wind = "15 to 25 km/h" if metric else "10 to 15 mph"
        periods.append({
            "number": number,
            "name": name,
            "startTime": start.isoformat(),
            "endTime": end.isoformat(),
            "isDaytime": day,
            "temperature": temperature,
            "temperatureUnit": "C" if metric else "F",
            "temperatureTrend": None,
            "probabilityOfPrecipitation": {"unitCode": "wmoUnit:percent",
                                           "value": 40 if "Chance" in short else None},
            "windSpeed": wind,
            "windDirection": "NW",
            "icon": "%s/icons/land/%s/%s?size=medium" % (base, "day" if day else "night", icon),
            "shortForecast": short,
            "detailedForecast": "%s, with a %s near %d. Northwest wind %s." % (
                short, "high" if day else "low", temperature, wind),
        })
    return {
        "@context": ["https://geojson.org/geojson-ld/geojson-context.jsonld",
                     {"@version": "1.1", "wx": base + "/ontology#", "@vocab": base + "/ontology#"}],
        "type": "Feature",
        "geometry": {"type": "Polygon", "coordinates": [[[-96.6534, 40.826], [-96.6598, 40.8042],
                                                         [-96.631, 40.7994], [-96.6534, 40.826]]]},
        "properties": {
            "units": "si" if metric else "us",
            "forecastGenerator": "BaselineForecastGenerator",
            "generatedAt": utc_stamp(int(epoch // 60) * 60),
            "updateTime": utc_stamp(hour - 3600),
            "validTimes": "%s/P7DT12H" % utc_stamp(hour - 3600),
            "elevation": plain_measurement("m", 356.9184),
            "forecast": grid + "/forecast",
            "periods": periods,
        },
    }


def problem_document(base, status, title, detail):
    return {
        "correlationId": "%08x" % (zlib.crc32(detail.encode("utf-8")) & 0xFFFFFFFF),
        "title": title,
        "type": "%s/problems/%s" % (base, title.replace(" ", "")),
        "status": status,
        "detail": detail,
        "instance": "%s/requests/demo" % base,
    }


# ---------------------------------------------------------------- quotes


def quote_object(symbol, epoch):
    name, base_price, exchange_name, exchange = COMPANIES.get(
        symbol, (symbol + " Holdings", 20.0 + 380.0 * stable_unit(symbol), "NYSE", "NYQ"))
    minute = int(epoch // 60)
    phase = 6.283 * stable_unit(symbol + "/phase")
    previous_close = round(base_price, 2)
    swing = 0.018 * math.sin(minute / 6.0 + phase) + 0.006 * math.sin(minute / 1.7 + 2 * phase)
    price = round(previous_close * (1.0 + swing), 2)
    change = round(price - previous_close, 4)
    change_percent = round(100.0 * change / previous_close, 5)
    day_fraction = ((epoch % 86400) / 86400.0)
    average_volume = int(20_000_000 + 60_000_000 * stable_unit(symbol + "/volume"))
    volume = int(average_volume * (0.15 + 0.85 * day_fraction)) + (minute % 97) * 1311
    high = round(max(price, previous_close) * 1.004, 2)
    low = round(min(price, previous_close) * 0.996, 2)
    market_time = minute * 60
    return {
        "preMarketChange": round(change * 0.3, 4),
        "preMarketChangePercent": round(change_percent * 0.3, 5),
        "preMarketTime": market_time - 3600 * 6,
        "preMarketPrice": round(previous_close + change * 0.3, 2),
        "regularMarketChange": change,
        "regularMarketChangePercent": change_percent,
        "regularMarketTime": market_time,
        "regularMarketPrice": price,
        "regularMarketDayHigh": high,
        "regularMarketDayRange": "%.2f - %.2f" % (low, high),
        "regularMarketDayLow": low,
        "regularMarketVolume": volume,
        "regularMarketPreviousClose": previous_close,
        "bid": round(price - 0.01, 2),
        "ask": round(price + 0.02, 2),
        "bidSize": 3,
        "askSize": 4,
        "fullExchangeName": exchange_name,
        "financialCurrency": "USD",
        "regularMarketOpen": round(previous_close * 1.001, 2),
        "averageDailyVolume3Month": average_volume,
        "averageDailyVolume10Day": int(average_volume * 1.07),
        "fiftyTwoWeekLow": round(previous_close * 0.71, 2),
        "fiftyTwoWeekHigh": round(previous_close * 1.18, 2),
        "language": "en-US",
        "region": "US",
        "quoteType": "EQUITY",
        "typeDisp": "Equity",
        "triggerable": True,
        "currency": "USD",
        "exchange": exchange,
        "shortName": name,
        "longName": name,
        "marketState": "REGULAR",
        "tradeable": False,
        "priceHint": 2,
        "exchangeTimezoneName": "America/New_York",
        "exchangeTimezoneShortName": "EDT",
        "gmtOffSetMilliseconds": -14400000,
        "market": "us_market",
        "symbol": symbol,
    }


def quotes_document(symbols, epoch):
    return {
        "meta": {
            "version": "v1.0",
            "status": 200,
            "symbols": ",".join(symbols),
            "processedTime": datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc)
            .strftime("%Y-%m-%dT%H:%M:%S.%fZ"),
        },
        "body": [quote_object(symbol, epoch) for symbol in symbols],
    }


# ---------------------------------------------------------------- HTTP


class ServiceHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "CorveltaDemo/1.0"
    quiet = False

    def log_message(self, fmt, *args):
        if not self.quiet:
            sys.stderr.write("%s %s: %s\n" % (
                time.strftime("%H:%M:%S"), self.server.label, fmt % args))

    def reply(self, status, document, content_type, pretty):
        if pretty:
            body = json.dumps(document, indent=4, ensure_ascii=False)
        else:
            body = json.dumps(document, separators=(",", ":"), ensure_ascii=False)
        data = body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-cache")
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):  # noqa: N802 (the standard library's name)
        try:
            self.server.answer(self)
        except (BrokenPipeError, ConnectionResetError):
            pass


class WeatherServer(ThreadingHTTPServer):
    label = "weather"
    daemon_threads = True

    def __init__(self, port, clock):
        super().__init__((LOOPBACK, port), ServiceHandler)
        self.clock = clock
        self.base = "http://%s:%d" % (LOOPBACK, self.server_address[1])

    def answer(self, handler):
        parts = urllib.parse.urlsplit(handler.path)
        path = urllib.parse.unquote(parts.path)
        geo = "application/geo+json"
        if path == "/alerts/active":
            document = alerts_document(self.base, self.clock.now())
            handler.reply(200, shifted(document, self.clock.stamp_shift), geo, True)
            return
        if path == "/gridpoints/%s/%d,%d/forecast" % (GRID_ID, GRID_X, GRID_Y):
            metric = urllib.parse.parse_qs(parts.query).get("units") == ["si"]
            document = forecast_document(self.base, self.clock.now(), metric)
            handler.reply(200, shifted(document, self.clock.stamp_shift), geo, True)
            return
        match = re.fullmatch(r"/points/([^,/]*),([^,/]*)", path)
        if match:
            handler.reply(200, point_document(self.base, match.group(1), match.group(2)), geo, True)
            return
        if path == "/gridpoints/%s/%d,%d/stations" % (GRID_ID, GRID_X, GRID_Y):
            handler.reply(200, stations_document(self.base), geo, True)
            return
        match = re.fullmatch(r"/stations/([^/]*)/observations/latest", path)
        if match and match.group(1) in STATION_BY_ID:
            document = observation_document(self.base, STATION_BY_ID[match.group(1)], self.clock.now())
            handler.reply(200, document, geo, True)
            return
        handler.reply(404, problem_document(self.base, 404, "Not Found",
                                            "'%s' is not a known resource" % path),
                      "application/problem+json", True)


class QuoteServer(ThreadingHTTPServer):
    label = "quotes"
    daemon_threads = True

    def __init__(self, port, clock):
        super().__init__((LOOPBACK, port), ServiceHandler)
        self.clock = clock

    def answer(self, handler):
        parts = urllib.parse.urlsplit(handler.path)
        if parts.path != "/qu/quote":
            handler.reply(404, {"message": "Endpoint '%s' does not exist" % parts.path},
                          "application/json", False)
            return
        query = urllib.parse.parse_qs(parts.query)
        wanted = ",".join(query.get("symbol", [])).split(",")
        symbols = []
        for symbol in (s.strip().upper() for s in wanted):
            if symbol and SYMBOL_PATTERN.match(symbol) and symbol not in symbols:
                symbols.append(symbol)
        if not symbols:
            handler.reply(400, {"meta": {"status": 400}, "body": {"symbol": "The symbol field is required."}},
                          "application/json", False)
            return
        handler.reply(200, quotes_document(symbols[:MAX_SYMBOLS], self.clock.now()),
                      "application/json", False)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--weather-port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--stock-port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--port-file", help="also write the service lines to this file")
    parser.add_argument("--at", type=float, default=None,
                        help="serve the weather and quotes of this fixed Unix time (tests)")
    parser.add_argument("--stamps-now", action="store_true",
                        help="with --at: date the alerts and the forecast as if that time were now")
    parser.add_argument("--quiet", action="store_true", help="do not log requests")
    args = parser.parse_args()

    ServiceHandler.quiet = args.quiet
    clock = Clock(args.at, args.stamps_now)
    weather = WeatherServer(args.weather_port, clock)
    quotes = QuoteServer(args.stock_port, clock)
    lines = "weather http://%s:%d\nstock http://%s:%d\n" % (
        LOOPBACK, weather.server_address[1], LOOPBACK, quotes.server_address[1])
    if args.port_file:
        with open(args.port_file + ".part", "w", encoding="utf-8") as handle:
            handle.write(lines)
        # Renamed into place so a reader never sees half the file.
        os.replace(args.port_file + ".part", args.port_file)
    sys.stdout.write(lines)
    sys.stdout.flush()

    for server in (weather, quotes):
        threading.Thread(target=server.serve_forever, daemon=True).start()
    # Leave with whoever started us (the demo launcher or a test), even when
    # it could not stop us itself.
    parent = os.getppid()
    try:
        while os.getppid() == parent:
            time.sleep(1.0)
    except KeyboardInterrupt:
        pass
    finally:
        weather.shutdown()
        quotes.shutdown()


if __name__ == "__main__":
    main()
